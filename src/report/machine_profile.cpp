#include "report/machine_profile.h"

#include <shlobj.h>

#include <cstdio>

namespace KrellMacID {

namespace {

const char kSection[] = "Profile";
constexpr DWORD kHashValueChars = 33;  // 32 characters and the terminator
// One character more than an id, so that a longer "config1" shows.
constexpr DWORD kIdValueChars = 34;
constexpr size_t kIdDigits = 32;

std::string ReadValue(const std::string& path, const char* key, DWORD chars) {
  std::string value(chars, '\0');
  DWORD got = ::GetPrivateProfileStringA(kSection, key, "", value.data(), chars, path.c_str());
  value.resize(got);
  return value;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeId(const std::string& text, MachineId& id) {
  if (text.size() != kIdDigits) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    id[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

// Folder creation goes on when the folder exists or when creating it was
// refused for lack of access (it may exist where we cannot look).
bool EnsureFolder(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
  DWORD error = ::GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

}  // namespace

std::string IdText(const MachineId& id) {
  std::string text;
  char pair[3];
  for (uint8_t byte : id) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

ProfileFile ProfileFile::Open(const std::string& appDataFolder) {
  ProfileFile profile;
  std::string path = appDataFolder;
  if (path.empty()) {
    char folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                  SHGFP_TYPE_CURRENT, folder))) {
      return profile;
    }
    path = folder;
  }
  if (!path.empty() && path.back() == '\\') path.pop_back();

  path += "\\Vorlenk";
  if (!EnsureFolder(path)) return profile;
  path += "\\Plaxupdate";
  if (!EnsureFolder(path)) return profile;
  path += "\\OmnilMgr.db";
  if (path.size() >= MAX_PATH) return profile;

  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  bool existed = file != INVALID_HANDLE_VALUE;
  if (!existed) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return profile;
    file = ::CreateFileA(path.c_str(), access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (file == INVALID_HANDLE_VALUE) return profile;
  }
  profile.file_.Reset(file);
  profile.path_ = path;
  profile.existed_ = existed;
  return profile;
}

ProfileVerdict CheckProfile(const std::string& path, const SourceHashes& hashes) {
  std::string recordedId = ReadValue(path, "config1", kIdValueChars);
  std::string recordedMac = ReadValue(path, "config2", kHashValueChars);
  std::string recordedDisk = ReadValue(path, "config3", kHashValueChars);
  std::string recordedCpu = ReadValue(path, "config4", kHashValueChars);
  UINT formatMarker = ::GetPrivateProfileIntA(kSection, "config5", 0, path.c_str());

  ProfileVerdict verdict;
  MachineId id{};
  if (!DecodeId(recordedId, id)) return verdict;

  bool matches = EqualsIgnoringCase(recordedCpu, hashes.cpu) &&
                 (EqualsIgnoringCase(recordedMac, hashes.mac) ||
                  EqualsIgnoringCase(recordedDisk, hashes.disk));
  if (matches) verdict.id = id;

  // The MAC address is always found.
  int have = 1 + (hashes.disk.empty() ? 0 : 1) + (hashes.cpu.empty() ? 0 : 1);
  int stored = (recordedMac.empty() ? 0 : 1) + (recordedDisk.empty() ? 0 : 1) +
               (recordedCpu.empty() ? 0 : 1);
  verdict.reuse = matches && have <= stored;

  bool macAndDiskRecorded = !recordedMac.empty() && !recordedDisk.empty();
  if (formatMarker == 0 && !hashes.cpu.empty() && !macAndDiskRecorded && have != 3 &&
      have >= stored) {
    verdict.reuse = false;
    verdict.appendBrand = true;
  }
  return verdict;
}

void WriteProfile(const ProfileFile& file, const MachineId& id, const SourceHashes& hashes) {
  std::string content = "[Profile]\r\nconfig1=" + IdText(id) + "\r\nconfig2=" + hashes.mac +
                        "\r\nconfig3=" + hashes.disk + "\r\nconfig4=" + hashes.cpu +
                        "\r\nconfig5=1\r\n";
  HANDLE target = file.Handle();
  ::SetFilePointer(target, 0, nullptr, FILE_BEGIN);
  ::SetEndOfFile(target);
  ScopedHandle recreated;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(target, &size) || size.QuadPart != 0) {
    recreated.Reset(::CreateFileA(file.Path().c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!recreated) return;
    target = recreated.Get();
  }
  DWORD written = 0;
  ::WriteFile(target, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

}  // namespace KrellMacID
