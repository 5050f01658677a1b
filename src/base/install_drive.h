// Choice of the drive to install on: the last fixed, non-USB, writable drive
// whose free space can be queried, in letter order C..Z; "A:\" when none.
#pragma once

#include <windows.h>

#include <string>

// The questions PickInstallDrive asks of each drive; the system answers by
// default, a table of answers in tests.
class DriveProbe {
 public:
  virtual ~DriveProbe() = default;
  virtual DWORD LogicalDrives() const;
  virtual UINT DriveType(wchar_t letter) const;
  virtual bool IsUsb(wchar_t letter) const;
  virtual bool IsWritable(wchar_t letter) const;
  virtual bool CanQueryFreeSpace(wchar_t letter) const;
};

// Root of the chosen drive, for example L"D:\\".
std::wstring PickInstallDrive(const DriveProbe& probe = DriveProbe());

// True when the volume of the drive letter sits on a USB bus.
bool IsUsbDrive(wchar_t letter);
// True when "<letter>:\test.tmp" can be created, written and read back.
bool IsDriveWritable(wchar_t letter);
