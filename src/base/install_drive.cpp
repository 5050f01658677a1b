#include "base/install_drive.h"

#include <winioctl.h>

#include <cstdio>

#include "base/scoped_handle.h"

namespace {

std::wstring DriveRoot(wchar_t letter) { return std::wstring{letter, L':', L'\\'}; }

constexpr DWORD kDescriptorBytes = 552;

}  // namespace

DWORD DriveProbe::LogicalDrives() const { return ::GetLogicalDrives(); }

UINT DriveProbe::DriveType(wchar_t letter) const {
  return ::GetDriveTypeW(DriveRoot(letter).c_str());
}

bool DriveProbe::IsUsb(wchar_t letter) const { return IsUsbDrive(letter); }

bool DriveProbe::IsWritable(wchar_t letter) const { return IsDriveWritable(letter); }

bool DriveProbe::CanQueryFreeSpace(wchar_t letter) const {
  ULARGE_INTEGER available, total, free;
  return ::GetDiskFreeSpaceExW(DriveRoot(letter).c_str(), &available, &total, &free) != FALSE;
}

std::wstring PickInstallDrive(const DriveProbe& probe) {
  wchar_t answer = L'A';
  DWORD present = probe.LogicalDrives();
  for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
    if (!(present & (1u << (letter - L'A')))) continue;
    if (probe.DriveType(letter) != DRIVE_FIXED) continue;
    if (probe.IsUsb(letter)) continue;
    if (!probe.IsWritable(letter)) continue;
    if (!probe.CanQueryFreeSpace(letter)) continue;
    answer = letter;
  }
  return DriveRoot(answer);
}

bool IsUsbDrive(wchar_t letter) {
  wchar_t volume[16];
  std::swprintf(volume, 16, L"\\\\?\\%c:", letter);
  ScopedHandle device(::CreateFileW(volume, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!device) return false;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  alignas(8) BYTE output[kDescriptorBytes] = {};
  auto* descriptor = reinterpret_cast<STORAGE_DEVICE_DESCRIPTOR*>(output);
  descriptor->Size = kDescriptorBytes;
  DWORD returned = 0;
  if (!::DeviceIoControl(device.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, output,
                         kDescriptorBytes, &returned, nullptr)) {
    return false;
  }
  return descriptor->BusType == BusTypeUsb;
}

bool IsDriveWritable(wchar_t letter) {
  wchar_t path[16];
  std::swprintf(path, 16, L"%c:\\test.tmp", letter);
  ScopedHandle file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) return false;
  DWORD written = ::GetTickCount();
  DWORD count = 0;
  if (!::WriteFile(file.Get(), &written, sizeof written, &count, nullptr) || count != sizeof written) {
    return false;
  }
  if (::SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  DWORD read = 0;
  count = 0;
  if (!::ReadFile(file.Get(), &read, sizeof read, &count, nullptr)) return false;
  return count == sizeof read && read == written;
}
