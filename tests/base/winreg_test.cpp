#include "base/winreg.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/registry_view.h"
#include "support/test_paths.h"

namespace {

constexpr char kSizeFailed[] = "Cannot get size of string value: RegGetValue failed.";
constexpr char kGetFailed[] = "Cannot get string value: RegGetValue failed.";
constexpr char kSetFailed[] = "Cannot write string value: RegSetValueEx failed.";
constexpr char kCreateFailed[] = "RegCreateKeyEx failed.";

// Gives each test its own key below Software\WexDownloaderTests in both
// roots and removes them, in the product's view, with the system's own tree
// deletion.
class WinregTest : public ::testing::Test {
 protected:
  WinregTest() {
    name_ = UniqueTestName();
    path_ = std::wstring(kTestsRoot) + L"\\" + name_;
    Remove();
  }
  ~WinregTest() override { Remove(); }

  static bool Exists(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
  }

  // The type and raw bytes of a per-user value in the test key.
  static LONG GetRaw(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
    data.assign(16384, 0);
    DWORD bytes = static_cast<DWORD>(data.size());
    LONG result = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &bytes);
    data.resize(bytes);
    return result;
  }

  static void SetRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes));
  }

  const std::wstring& Path() const { return path_; }

 private:
  static constexpr wchar_t kTestsRoot[] = L"Software\\WexDownloaderTests";

  void Remove() const {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      HKEY parent = nullptr;
      if (::RegOpenKeyExW(root, kTestsRoot, 0, KEY_ALL_ACCESS | kProductView, &parent) ==
          ERROR_SUCCESS) {
        ::RegDeleteTreeW(parent, name_.c_str());
        ::RegCloseKey(parent);
      }
    }
  }

  std::wstring name_;
  std::wstring path_;
};

bool IsOpen(HKEY key) {
  return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TEST_F(WinregTest, StringsRoundTripAsTerminatedRegSz) {
  const std::wstring values[] = {
      L"C:\\Users\\Player\\AppData\\Local\\Temp\\",
      L"",
      L"D:\\\u00e9\u00e8\\\u6728\u6728",
      std::wstring(5000, L'p'),  // no fixed buffer limits this style
      L"x",                      // shorter than before: nothing of it may remain
  };
  winreg::Key key;
  key.Create(HKEY_CURRENT_USER, Path());
  for (const auto& value : values) {
    SCOPED_TRACE(value.size());
    key.SetString(L"TempPath", value);
    EXPECT_EQ(value, key.GetString(L"TempPath"));

    DWORD type = 0;
    std::vector<BYTE> raw;
    ASSERT_EQ(ERROR_SUCCESS, GetRaw(key.Handle(), L"TempPath", type, raw));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    const auto* bytes = reinterpret_cast<const BYTE*>(value.c_str());
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + (value.size() + 1) * sizeof(wchar_t)), raw);
  }

  // Written by other programs: with no bytes at all, and without a terminator
  // (RegSetValueExW would add one if a zero followed the data in memory).
  SetRaw(key.Handle(), L"Bare", REG_SZ, L"", 0);
  EXPECT_EQ(L"", key.GetString(L"Bare"));
  SetRaw(key.Handle(), L"Unterminated", REG_SZ, L"abcd", 6);
  EXPECT_EQ(L"abc", key.GetString(L"Unterminated"));

  // Creating an existing key opens it.
  winreg::Key again;
  again.Create(HKEY_CURRENT_USER, Path());
  EXPECT_EQ(L"x", again.GetString(L"TempPath"));
}

struct FailureCase {
  const char* label;
  std::function<void(winreg::Key& key, const std::wstring& path)> action;
  const char* message;
  LONG code;
};

TEST_F(WinregTest, FailuresThrowTheirMessageAndCode) {
  {
    winreg::Key setup;
    setup.Create(HKEY_CURRENT_USER, Path());
    const DWORD number = 3;
    SetRaw(setup.Handle(), L"Number", REG_DWORD, &number, sizeof(number));
    SetRaw(setup.Handle(), L"Odd", REG_SZ, L"ab", 3);
  }
  const FailureCase cases[] = {
      {"create below no root", [](auto& key, auto& path) { key.Create(nullptr, path); },
       kCreateFailed, ERROR_INVALID_HANDLE},
      {"missing value", [](auto& key, auto&) { key.GetString(L"Missing"); }, kSizeFailed,
       ERROR_FILE_NOT_FOUND},
      {"number read as string", [](auto& key, auto&) { key.GetString(L"Number"); }, kSizeFailed,
       ERROR_UNSUPPORTED_TYPE},
      // The size call reports 3 bytes, more than the size/2 characters hold.
      {"odd byte size", [](auto& key, auto&) { key.GetString(L"Odd"); }, kGetFailed,
       ERROR_MORE_DATA},
      {"read after close",
       [](auto& key, auto&) {
         key.Close();
         key.GetString(L"Number");
       },
       kSizeFailed, ERROR_INVALID_HANDLE},
      {"write after close",
       [](auto& key, auto&) {
         key.Close();
         key.SetString(L"TempPath", L"C:\\");
       },
       kSetFailed, ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    winreg::Key key;
    key.Create(HKEY_CURRENT_USER, Path());
    try {
      c.action(key, Path());
      ADD_FAILURE() << "no exception";
    } catch (const winreg::RegException& e) {
      EXPECT_STREQ(c.message, e.what());
      EXPECT_EQ(c.code, e.Code());
    }
  }
}

TEST_F(WinregTest, FailedCreateKeepsTheHeldKey) {
  winreg::Key key;
  key.Create(HKEY_CURRENT_USER, Path());
  const HKEY held = key.Handle();
  EXPECT_THROW(key.Create(nullptr, Path()), winreg::RegException);
  EXPECT_EQ(held, key.Handle());
  EXPECT_NO_THROW(key.SetString(L"UserLanguage", L"en"));
}

TEST_F(WinregTest, MachineWideKeyLandsInThe32BitView) {
  if (!OnWindows64()) GTEST_SKIP() << "one registry view only";
  winreg::Key key;
  key.Create(HKEY_LOCAL_MACHINE, Path());
  key.SetString(L"InstallPath", L"C:\\Pardomix");
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, Path(), KEY_WOW64_32KEY));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, Path(), KEY_WOW64_64KEY));
}

TEST_F(WinregTest, MoveAndCloseReleaseTheKeyOnce) {
  winreg::Key first;
  first.Create(HKEY_CURRENT_USER, Path());
  const HKEY handle = first.Handle();

  winreg::Key second(std::move(first));
  EXPECT_EQ(nullptr, first.Handle());
  first.Close();
  EXPECT_TRUE(IsOpen(handle));
  second.SetString(L"UserLanguage", L"de");

  second.Close();
  EXPECT_EQ(nullptr, second.Handle());
  EXPECT_FALSE(IsOpen(handle));
  // The freed handle value is handed out again; closing twice must not
  // close the newcomer.
  winreg::Key newcomer;
  newcomer.Create(HKEY_CURRENT_USER, Path());
  second.Close();
  EXPECT_EQ(L"de", newcomer.GetString(L"UserLanguage"));
}

}  // namespace
