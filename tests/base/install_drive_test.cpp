#include "base/install_drive.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "base/file_system.h"

namespace {

struct FakeDrive {
  UINT type = DRIVE_FIXED;
  bool usb = false;
  bool writable = true;
  bool freeSpaceKnown = true;
};

// Answers from a table; letters without an entry have no root directory.
// Records every letter it was asked about.
class FakeProbe : public DriveProbe {
 public:
  FakeProbe(DWORD present, std::map<wchar_t, FakeDrive> drives)
      : present_(present), drives_(std::move(drives)) {}

  DWORD LogicalDrives() const override { return present_; }
  UINT DriveType(wchar_t letter) const override {
    asked_.insert(letter);
    auto it = drives_.find(letter);
    return it == drives_.end() ? DRIVE_NO_ROOT_DIR : it->second.type;
  }
  bool IsUsb(wchar_t letter) const override {
    asked_.insert(letter);
    return Drive(letter).usb;
  }
  bool IsWritable(wchar_t letter) const override {
    asked_.insert(letter);
    writeProbed_.insert(letter);
    return Drive(letter).writable;
  }
  bool CanQueryFreeSpace(wchar_t letter) const override {
    asked_.insert(letter);
    return Drive(letter).freeSpaceKnown;
  }

  const std::set<wchar_t>& Asked() const { return asked_; }
  const std::set<wchar_t>& WriteProbed() const { return writeProbed_; }

 private:
  FakeDrive Drive(wchar_t letter) const {
    auto it = drives_.find(letter);
    return it == drives_.end() ? FakeDrive{DRIVE_NO_ROOT_DIR} : it->second;
  }

  DWORD present_;
  std::map<wchar_t, FakeDrive> drives_;
  mutable std::set<wchar_t> asked_;
  mutable std::set<wchar_t> writeProbed_;
};

constexpr DWORD Bit(wchar_t letter) { return 1u << (letter - L'A'); }

const FakeDrive kGood{};
const FakeDrive kUsb{DRIVE_FIXED, true};
const FakeDrive kReadOnly{DRIVE_FIXED, false, false};
const FakeDrive kNoFreeSpace{DRIVE_FIXED, false, true, false};
const FakeDrive kCdRom{DRIVE_CDROM};
const FakeDrive kRemovable{DRIVE_REMOVABLE};
const FakeDrive kRemote{DRIVE_REMOTE};
const FakeDrive kRamDisk{DRIVE_RAMDISK};

struct PickCase {
  const char* name;
  DWORD present;
  std::map<wchar_t, FakeDrive> drives;
  const wchar_t* expected;
};

TEST(PickInstallDriveTest, ChoosesLastQualifyingDriveInLetterOrder) {
  const PickCase kCases[] = {
      // Free space takes no part: the probe is only asked whether it can be read.
      {"C and D both qualify", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kGood}}, L"D:\\"},
      {"D on USB", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kUsb}}, L"C:\\"},
      {"D not writable", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kReadOnly}}, L"C:\\"},
      {"D free space unknown", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kNoFreeSpace}}, L"C:\\"},
      {"D CD-ROM", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kCdRom}}, L"C:\\"},
      {"D removable", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kRemovable}}, L"C:\\"},
      {"D network", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kRemote}}, L"C:\\"},
      {"D RAM disk", Bit('C') | Bit('D'), {{'C', kGood}, {'D', kRamDisk}}, L"C:\\"},
      {"a later failure does not undo an earlier choice",
       Bit('C') | Bit('D') | Bit('E') | Bit('F'),
       {{'C', kGood}, {'D', kGood}, {'E', kUsb}, {'F', kCdRom}},
       L"D:\\"},
      {"gap in the letters", Bit('C') | Bit('F'), {{'C', kGood}, {'F', kGood}}, L"F:\\"},
      {"Z is the last letter considered", Bit('C') | Bit('Z'), {{'C', kGood}, {'Z', kGood}}, L"Z:\\"},
      {"a drive without its bit is not used", Bit('C'), {{'C', kGood}, {'D', kGood}}, L"C:\\"},
      {"bits past Z are ignored", 0xFFFFFFFFu, {{'C', kGood}}, L"C:\\"},
      {"no drive qualifies", Bit('C') | Bit('D'), {{'C', kUsb}, {'D', kReadOnly}}, L"A:\\"},
      {"no drives at all", 0, {}, L"A:\\"},
      {"A and B are never candidates", Bit('A') | Bit('B'), {{'A', kGood}, {'B', kGood}}, L"A:\\"},
      {"B qualifying beside nothing else", Bit('B') | Bit('C'), {{'B', kGood}, {'C', kCdRom}}, L"A:\\"},
  };
  for (const PickCase& c : kCases) {
    FakeProbe probe(c.present, c.drives);
    EXPECT_EQ(PickInstallDrive(probe), c.expected) << c.name;
    EXPECT_EQ(probe.Asked().count(L'A') + probe.Asked().count(L'B'), 0u) << c.name;
    for (wchar_t letter : probe.Asked()) {
      EXPECT_TRUE(c.present & Bit(letter)) << c.name << ": asked about absent " << char(letter);
    }
  }
}

// Probing writability creates a file in the drive's root, so a drive that is
// not a fixed, non-USB disk must never get one.
TEST(PickInstallDriveTest, WritesOnlyToFixedNonUsbDrives) {
  FakeProbe probe(Bit('C') | Bit('D') | Bit('E') | Bit('F') | Bit('G'),
                  {{'C', kGood}, {'D', kCdRom}, {'E', kRemovable}, {'F', kUsb}, {'G', kRemote}});
  EXPECT_EQ(PickInstallDrive(probe), L"C:\\");
  EXPECT_EQ(probe.WriteProbed(), std::set<wchar_t>{L'C'});
}

// The prefix maps only C:, so the real probes must settle on it. One test on
// purpose: the write probe uses one fixed file name per drive.
TEST(InstallDriveSystemTest, RealProbesUnderThisPrefix) {
  EXPECT_EQ(PickInstallDrive(), L"C:\\");

  EXPECT_TRUE(IsDriveWritable(L'C'));
  EXPECT_FALSE(FileExists(L"C:\\test.tmp")) << "the probe file must go with its handle";
  EXPECT_FALSE(IsUsbDrive(L'C'));

  DWORD present = ::GetLogicalDrives();
  wchar_t absent = 0;
  for (wchar_t letter = L'Z'; letter >= L'D'; --letter) {
    if (!(present & Bit(letter))) {
      absent = letter;
      break;
    }
  }
  ASSERT_NE(absent, 0) << "every letter is mapped";
  EXPECT_FALSE(IsDriveWritable(absent)) << char(absent);
  EXPECT_FALSE(IsUsbDrive(absent)) << char(absent);
}

}  // namespace
