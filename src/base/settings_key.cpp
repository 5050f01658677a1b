#include "base/settings_key.h"

#include <cwchar>
#include <utility>

namespace {

using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// RegDeleteKeyExW does not exist on older Windows (32-bit XP), so it is
// looked up at run time; null when this Windows lacks it.
RegDeleteKeyExFn FindRegDeleteKeyEx() {
  HMODULE advapi = ::GetModuleHandleW(L"Advapi32.dll");
  if (!advapi) return nullptr;
  FARPROC proc = ::GetProcAddress(advapi, "RegDeleteKeyExW");
  return reinterpret_cast<RegDeleteKeyExFn>(reinterpret_cast<void*>(proc));
}

LONG DeleteSubKey(HKEY parent, const wchar_t* name, REGSAM view) {
  // Looked up once per process; found or not, the answer is kept.
  static const RegDeleteKeyExFn deleteKeyEx = FindRegDeleteKeyEx();
  if (deleteKeyEx) return deleteKeyEx(parent, name, view, 0);
  return ::RegDeleteKeyW(parent, name);
}

LONG DeleteTree(HKEY parent, const wchar_t* name, REGSAM view) {
  HKEY raw = nullptr;
  LONG result = ::RegOpenKeyExW(parent, name, 0, SettingsKey::kReadWrite | view, &raw);
  if (result != ERROR_SUCCESS) return result;
  ScopedRegKey key(raw);
  for (;;) {
    wchar_t child[SettingsKey::kSubKeyNameChars];
    DWORD childChars = SettingsKey::kSubKeyNameChars;
    // Always index 0: each pass deletes the subkey it found.
    if (::RegEnumKeyExW(key.Get(), 0, child, &childChars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    result = DeleteTree(key.Get(), child, view);
    if (result != ERROR_SUCCESS) return result;
  }
  key.Reset();
  return DeleteSubKey(parent, name, view);
}

bool IsMissingName(const wchar_t* name) { return name == nullptr || name[0] == L'\0'; }

}  // namespace

SettingsKey::SettingsKey(SettingsKey&& other) noexcept
    : key_(std::move(other.key_)), view_(std::exchange(other.view_, 0)) {}

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept {
  if (this != &other) {
    key_ = std::move(other.key_);
    view_ = std::exchange(other.view_, 0);
  }
  return *this;
}

LONG SettingsKey::TryOpen(HKEY root, const wchar_t* path, REGSAM access) {
  const REGSAM mask = WithProductView(access);
  HKEY raw = nullptr;
  LONG result = ::RegOpenKeyExW(root, path, 0, mask, &raw);
  if (result != ERROR_SUCCESS) return result;
  key_.Reset(raw);
  view_ = mask & kViewMask;
  return ERROR_SUCCESS;
}

LONG SettingsKey::TryCreate(HKEY root, const wchar_t* path, DWORD* disposition) {
  const REGSAM mask = WithProductView(kReadWrite);
  HKEY raw = nullptr;
  DWORD created = 0;
  LONG result = ::RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, mask, nullptr,
                                  &raw, &created);
  if (result != ERROR_SUCCESS) return result;
  key_.Reset(raw);
  view_ = mask & kViewMask;
  if (disposition) *disposition = created;
  return ERROR_SUCCESS;
}

LONG SettingsKey::TryReadString(const wchar_t* name, wchar_t* buffer,
                                DWORD* lengthInChars) const {
  if (!key_) return ERROR_INVALID_HANDLE;
  if (!buffer || !lengthInChars) return ERROR_INVALID_PARAMETER;
  const DWORD capacity = *lengthInChars;
  if (capacity > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  DWORD bytes = capacity * sizeof(wchar_t);
  LONG result =
      ::RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  if (bytes % sizeof(wchar_t) != 0) return ERROR_INVALID_DATA;
  DWORD chars = bytes / sizeof(wchar_t);
  if (chars == 0) {
    // Stored with no bytes at all: still an empty string.
    if (capacity == 0) return ERROR_MORE_DATA;
    buffer[0] = L'\0';
    chars = 1;
  } else if (buffer[chars - 1] != L'\0') {
    return ERROR_INVALID_DATA;
  }
  *lengthInChars = chars;
  return ERROR_SUCCESS;
}

LONG SettingsKey::TryReadString(const wchar_t* name, std::wstring& out) const {
  wchar_t buffer[kStringBufferChars];
  DWORD chars = kStringBufferChars;
  LONG result = TryReadString(name, buffer, &chars);
  if (result == ERROR_SUCCESS) out.assign(buffer, std::wcslen(buffer));
  return result;
}

LONG SettingsKey::TryWriteString(const wchar_t* name, const wchar_t* text) {
  if (!text) return ERROR_INVALID_DATA;
  if (!key_) return ERROR_INVALID_HANDLE;
  const size_t chars = std::wcslen(text) + 1;
  if (chars > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_DATA;
  return ::RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(chars * sizeof(wchar_t)));
}

LONG SettingsKey::TryReadDword(const wchar_t* name, DWORD& out) const {
  if (!key_) return ERROR_INVALID_HANDLE;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  LONG result =
      ::RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_DWORD || bytes != sizeof(value)) return ERROR_INVALID_DATA;
  out = value;
  return ERROR_SUCCESS;
}

LONG SettingsKey::TryWriteDword(const wchar_t* name, DWORD value) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return ::RegSetValueExW(key_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

LONG SettingsKey::TryEnumSubKey(DWORD index, std::wstring& name) const {
  if (!key_) return ERROR_INVALID_HANDLE;
  wchar_t buffer[kSubKeyNameChars];
  DWORD chars = kSubKeyNameChars;
  LONG result =
      ::RegEnumKeyExW(key_.Get(), index, buffer, &chars, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) name.assign(buffer, chars);
  return result;
}

LONG SettingsKey::TryDeleteSubKey(const wchar_t* name) {
  if (!key_) return ERROR_INVALID_HANDLE;
  if (IsMissingName(name)) return ERROR_INVALID_PARAMETER;
  return DeleteSubKey(key_.Get(), name, view_);
}

LONG SettingsKey::TryDeleteTree(const wchar_t* name) {
  if (!key_) return ERROR_INVALID_HANDLE;
  if (IsMissingName(name)) return ERROR_INVALID_PARAMETER;
  return DeleteTree(key_.Get(), name, view_);
}

void SettingsKey::Close() {
  key_.Reset();
  view_ = 0;
}
