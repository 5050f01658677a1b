#include "base/settings_key.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/registry_view.h"
#include "support/test_paths.h"

namespace {

constexpr wchar_t kTestsRoot[] = L"Software\\WexDownloaderTests";

std::vector<BYTE> Bytes(const void* data, size_t size) {
  const auto* p = static_cast<const BYTE*>(data);
  return std::vector<BYTE>(p, p + size);
}

// A key private to the running test below kTestsRoot in `root`, removed in
// both views before and after the test with the system's own tree deletion,
// so a fault in the code under test cannot hide leftovers.
class TestKey {
 public:
  explicit TestKey(HKEY root) : root_(root) {
    name_ = UniqueTestName();
    path_ = std::wstring(kTestsRoot) + L"\\" + name_;
    Remove();
  }
  ~TestKey() {
    Remove();
    EXPECT_FALSE(Exists(path_, kProductView)) << "test key left behind";
  }
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring Path(const std::wstring& below) const { return path_ + L"\\" + below; }

  bool Exists(const std::wstring& path, REGSAM view) const {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
      return false;
    }
    ::RegCloseKey(key);
    return true;
  }

  // Stores exactly `bytes` raw bytes as a value of any type in `path`
  // (created if needed), in the product's view unless another is named.
  void SetRaw(const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
              DWORD bytes, REGSAM view = kProductView) const {
    // RegSetValueExW stores one character more for a string whose counted
    // bytes lack a terminator when a zero follows them in memory; a non-zero
    // tail keeps the bytes as given.
    std::vector<BYTE> padded = Bytes(data, bytes);
    padded.insert(padded.end(), {'Z', 'Z'});
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | view, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, type, padded.data(), bytes));
    ::RegCloseKey(key);
  }

  // The type and raw bytes of a value, or the error of reading them.
  LONG GetRaw(const std::wstring& path, const wchar_t* name, REGSAM view, DWORD& type,
              std::vector<BYTE>& data) const {
    HKEY key = nullptr;
    LONG result = ::RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ | view, &key);
    if (result != ERROR_SUCCESS) return result;
    data.assign(4096, 0);
    DWORD bytes = static_cast<DWORD>(data.size());
    result = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &bytes);
    data.resize(bytes);
    ::RegCloseKey(key);
    return result;
  }

 private:
  void Remove() const {
    for (REGSAM view : {kProductView, REGSAM(OnWindows64() ? KEY_WOW64_64KEY : 0)}) {
      HKEY parent = nullptr;
      if (::RegOpenKeyExW(root_, kTestsRoot, 0, KEY_ALL_ACCESS | view, &parent) == ERROR_SUCCESS) {
        ::RegDeleteTreeW(parent, name_.c_str());
        ::RegCloseKey(parent);
      }
    }
  }

  HKEY root_;
  std::wstring name_;
  std::wstring path_;
};

std::vector<BYTE> WideBytes(const std::wstring& text, bool withTerminator) {
  return Bytes(text.c_str(), (text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
}

std::string RootName(HKEY root) {
  return root == HKEY_LOCAL_MACHINE ? "LocalMachine" : "CurrentUser";
}

// ---------------------------------------------------------------------------
// Behaviour that must hold the same in both roots.

class SettingsKeyRootTest : public ::testing::TestWithParam<HKEY> {};

INSTANTIATE_TEST_SUITE_P(Roots, SettingsKeyRootTest,
                         ::testing::Values(HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE),
                         [](const auto& info) { return RootName(info.param); });

TEST_P(SettingsKeyRootTest, StringAndDwordRoundTripInTheStoredFormat) {
  TestKey sandbox(GetParam());
  const std::wstring path = sandbox.Path(L"Vorlenk\\Pardomix");
  const std::wstring text = L"C:\\Program Files\\Pardomix \u00e9\u6728";

  {
    SettingsKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.TryCreate(GetParam(), path.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.TryWriteString(L"InstallPath", text.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.TryWriteDword(L"SupplyId", 0x80000001u));
  }

  // Other programs read these bytes directly: a terminated UTF-16 REG_SZ and
  // a 4-byte REG_DWORD.
  DWORD type = 0;
  std::vector<BYTE> raw;
  ASSERT_EQ(ERROR_SUCCESS, sandbox.GetRaw(path, L"InstallPath", kProductView, type, raw));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(WideBytes(text, true), raw);
  ASSERT_EQ(ERROR_SUCCESS, sandbox.GetRaw(path, L"SupplyId", kProductView, type, raw));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  const DWORD supply = 0x80000001u;
  EXPECT_EQ(Bytes(&supply, sizeof(supply)), raw);

  SettingsKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.TryOpen(GetParam(), path.c_str(), SettingsKey::kReadOnly));
  std::wstring read;
  EXPECT_EQ(ERROR_SUCCESS, key.TryReadString(L"InstallPath", read));
  EXPECT_EQ(text, read);
  wchar_t buffer[SettingsKey::kStringBufferChars];
  DWORD chars = SettingsKey::kStringBufferChars;
  EXPECT_EQ(ERROR_SUCCESS, key.TryReadString(L"InstallPath", buffer, &chars));
  EXPECT_EQ(text.size() + 1, chars) << "length counts the terminator";
  DWORD number = 0;
  EXPECT_EQ(ERROR_SUCCESS, key.TryReadDword(L"SupplyId", number));
  EXPECT_EQ(0x80000001u, number);
}

TEST_P(SettingsKeyRootTest, DeleteTreeRemovesNestedKeysAndNothingElse) {
  TestKey sandbox(GetParam());
  for (const wchar_t* below : {L"Tree\\a\\b\\c", L"Tree\\a\\d", L"Tree\\e", L"Sibling\\f"}) {
    const DWORD one = 1;
    sandbox.SetRaw(sandbox.Path(below), L"Version", REG_DWORD, &one, sizeof(one));
  }
  SettingsKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.TryOpen(GetParam(), sandbox.Path().c_str(), SettingsKey::kReadWrite));

  EXPECT_EQ(ERROR_SUCCESS, key.TryDeleteTree(L"Tree"));

  EXPECT_FALSE(sandbox.Exists(sandbox.Path(L"Tree"), kProductView));
  EXPECT_TRUE(sandbox.Exists(sandbox.Path(L"Sibling\\f"), kProductView));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.TryDeleteTree(L"Tree")) << "the open error of a missing key";
  EXPECT_TRUE(sandbox.Exists(sandbox.Path(L"Sibling\\f"), kProductView));
}

// ---------------------------------------------------------------------------
// Reading stored values of every shape the registry can hold.

struct StoredValueCase {
  const char* label;
  DWORD type;
  std::vector<BYTE> data;
  LONG stringResult;
  std::wstring text;  // when stringResult is success
  LONG dwordResult;
};

TEST(SettingsKeyReadTest, AcceptsOnlyWellFormedValuesOfTheRightType) {
  const DWORD fortyTwo = 42;
  const WORD half = 42;
  const std::wstring longest(SettingsKey::kStringBufferChars - 1, L'x');
  const std::wstring tooLong(SettingsKey::kStringBufferChars, L'x');
  const StoredValueCase cases[] = {
      {"dword", REG_DWORD, Bytes(&fortyTwo, 4), ERROR_INVALID_DATA, L"", ERROR_SUCCESS},
      {"two-byte dword", REG_DWORD, Bytes(&half, 2), ERROR_INVALID_DATA, L"", ERROR_INVALID_DATA},
      {"binary", REG_BINARY, Bytes(&fortyTwo, 4), ERROR_INVALID_DATA, L"", ERROR_INVALID_DATA},
      // Longer than a number: the read itself fails.
      {"string", REG_SZ, WideBytes(L"1.2.3", true), ERROR_SUCCESS, L"1.2.3", ERROR_MORE_DATA},
      {"expandable string, not expanded", REG_EXPAND_SZ, WideBytes(L"%WINDIR%\\x", true),
       ERROR_SUCCESS, L"%WINDIR%\\x", ERROR_MORE_DATA},
      {"multi-string", REG_MULTI_SZ, WideBytes(std::wstring(L"a\0b\0", 4), true),
       ERROR_INVALID_DATA, L"", ERROR_MORE_DATA},
      {"odd byte size", REG_SZ, Bytes(L"ab", 3), ERROR_INVALID_DATA, L"", ERROR_INVALID_DATA},
      {"no terminator", REG_SZ, Bytes(L"abcd", 6), ERROR_INVALID_DATA, L"", ERROR_MORE_DATA},
      {"empty with terminator", REG_SZ, WideBytes(L"", true), ERROR_SUCCESS, L"",
       ERROR_INVALID_DATA},
      {"empty without any byte", REG_SZ, {}, ERROR_SUCCESS, L"", ERROR_INVALID_DATA},
      {"fills the caller's buffer", REG_SZ, WideBytes(longest, true), ERROR_SUCCESS, longest,
       ERROR_MORE_DATA},
      {"one past the caller's buffer", REG_SZ, WideBytes(tooLong, true), ERROR_MORE_DATA, L"",
       ERROR_MORE_DATA},
  };
  TestKey sandbox(HKEY_CURRENT_USER);
  SettingsKey key;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    sandbox.SetRaw(sandbox.Path(), L"Value", c.type, c.data.data(),
                   static_cast<DWORD>(c.data.size()));
    ASSERT_EQ(ERROR_SUCCESS,
              key.TryOpen(HKEY_CURRENT_USER, sandbox.Path().c_str(), SettingsKey::kReadOnly));

    std::wstring text = L"untouched";
    EXPECT_EQ(c.stringResult, key.TryReadString(L"Value", text));
    EXPECT_EQ(c.stringResult == ERROR_SUCCESS ? c.text : L"untouched", text);

    wchar_t buffer[SettingsKey::kStringBufferChars];
    DWORD chars = SettingsKey::kStringBufferChars;
    EXPECT_EQ(c.stringResult, key.TryReadString(L"Value", buffer, &chars));
    const DWORD expectedChars = c.stringResult == ERROR_SUCCESS
                                    ? static_cast<DWORD>(c.text.size() + 1)
                                    : SettingsKey::kStringBufferChars;
    EXPECT_EQ(expectedChars, chars);

    DWORD number = 7;
    EXPECT_EQ(c.dwordResult, key.TryReadDword(L"Value", number));
    EXPECT_EQ(c.dwordResult == ERROR_SUCCESS ? fortyTwo : 7u, number);
  }
}

// ---------------------------------------------------------------------------
// Failures: reported by code, no crash, and nothing changed.

TEST(SettingsKeyErrorTest, MissingKeysValuesAndEmptyHandlesReportCodes) {
  TestKey sandbox(HKEY_CURRENT_USER);
  SettingsKey key;
  std::wstring text;
  DWORD number = 0;

  // Never opened.
  EXPECT_EQ(ERROR_INVALID_HANDLE, key.TryReadString(L"Value", text));
  EXPECT_EQ(ERROR_INVALID_HANDLE, key.TryReadDword(L"Value", number));
  EXPECT_EQ(ERROR_INVALID_HANDLE, key.TryWriteDword(L"Value", 1));
  EXPECT_EQ(ERROR_INVALID_HANDLE, key.TryDeleteTree(L"Value"));
  key.Close();
  key.Close();

  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            key.TryOpen(HKEY_CURRENT_USER, sandbox.Path().c_str(), SettingsKey::kReadWrite));
  EXPECT_EQ(nullptr, key.Handle());

  ASSERT_EQ(ERROR_SUCCESS, key.TryCreate(HKEY_CURRENT_USER, sandbox.Path().c_str()));
  const HKEY held = key.Handle();
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.TryReadString(L"Missing", text));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.TryReadDword(L"Missing", number));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.TryDeleteSubKey(L"Missing"));

  EXPECT_EQ(ERROR_INVALID_DATA, key.TryWriteString(L"Null", nullptr));
  DWORD type = 0;
  std::vector<BYTE> raw;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, sandbox.GetRaw(sandbox.Path(), L"Null", kProductView, type, raw));

  // The key itself is never a delete target.
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key.TryDeleteTree(L""));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key.TryDeleteSubKey(nullptr));

  // A failed open keeps the key held before.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            key.TryOpen(HKEY_CURRENT_USER, sandbox.Path(L"Missing").c_str(), SettingsKey::kReadWrite));
  EXPECT_EQ(held, key.Handle());
  EXPECT_EQ(ERROR_SUCCESS, key.TryWriteDword(L"StillUsable", 1));
  EXPECT_TRUE(sandbox.Exists(sandbox.Path(), kProductView));
}

// ---------------------------------------------------------------------------
// Keys: create, enumerate, delete.

TEST(SettingsKeyTreeTest, CreateReportsNewThenExistingAndEnumeratesSubkeys) {
  TestKey sandbox(HKEY_LOCAL_MACHINE);
  SettingsKey key;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.TryCreate(HKEY_LOCAL_MACHINE, sandbox.Path(L"Vorlenk").c_str(),
                                         &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, key.TryCreate(HKEY_LOCAL_MACHINE, sandbox.Path(L"Vorlenk").c_str(),
                                         &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);

  for (const wchar_t* child : {L"Vorlenk\\VDI_100", L"Vorlenk\\UI", L"Vorlenk\\Wys_Rootfs"}) {
    SettingsKey created;
    ASSERT_EQ(ERROR_SUCCESS, created.TryCreate(HKEY_LOCAL_MACHINE, sandbox.Path(child).c_str()));
  }
  std::vector<std::wstring> names;
  std::wstring name;
  DWORD index = 0;
  LONG result;
  while ((result = key.TryEnumSubKey(index, name)) == ERROR_SUCCESS) {
    names.push_back(name);
    ++index;
  }
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::wstring>{L"UI", L"VDI_100", L"Wys_Rootfs"}), names);
}

TEST(SettingsKeyTreeTest, DeleteSubKeyRefusesAKeyThatHasSubkeys) {
  TestKey sandbox(HKEY_LOCAL_MACHINE);
  const DWORD one = 1;
  sandbox.SetRaw(sandbox.Path(L"Pardomix\\UI"), L"Version", REG_DWORD, &one, sizeof(one));
  SettingsKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.TryOpen(HKEY_LOCAL_MACHINE, sandbox.Path().c_str(), SettingsKey::kReadWrite));

  EXPECT_NE(ERROR_SUCCESS, key.TryDeleteSubKey(L"Pardomix"));
  EXPECT_TRUE(sandbox.Exists(sandbox.Path(L"Pardomix\\UI"), kProductView));

  SettingsKey parent;
  ASSERT_EQ(ERROR_SUCCESS, parent.TryOpen(HKEY_LOCAL_MACHINE, sandbox.Path(L"Pardomix").c_str(),
                                          SettingsKey::kReadWrite));
  EXPECT_EQ(ERROR_SUCCESS, parent.TryDeleteSubKey(L"UI"));
  EXPECT_EQ(ERROR_SUCCESS, key.TryDeleteSubKey(L"Pardomix"));
  EXPECT_FALSE(sandbox.Exists(sandbox.Path(L"Pardomix"), kProductView));
}

// ---------------------------------------------------------------------------
// Machine-wide values stay where the 32-bit product and its peers look.

struct ViewCase {
  HKEY root;
  REGSAM readerView;
  bool visible;
};

TEST(SettingsKeyViewTest, MachineWideValuesLandInThe32BitView) {
  if (!OnWindows64()) GTEST_SKIP() << "one registry view only";
  const ViewCase cases[] = {
      {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, true},
      {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, false},
      // Per-user settings are shared by both views.
      {HKEY_CURRENT_USER, KEY_WOW64_32KEY, true},
      {HKEY_CURRENT_USER, KEY_WOW64_64KEY, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(RootName(c.root) + (c.readerView == KEY_WOW64_32KEY ? " 32-bit" : " 64-bit"));
    TestKey sandbox(c.root);
    SettingsKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.TryCreate(c.root, sandbox.Path().c_str()));
    EXPECT_EQ(kProductView, key.View());
    ASSERT_EQ(ERROR_SUCCESS, key.TryWriteDword(L"KVNVersion", 3));

    DWORD type = 0;
    std::vector<BYTE> raw;
    EXPECT_EQ(c.visible ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
              sandbox.GetRaw(sandbox.Path(), L"KVNVersion", c.readerView, type, raw));
  }
}

TEST(SettingsKeyViewTest, DeleteTreeLeavesThe64BitTwinAlone) {
  if (!OnWindows64()) GTEST_SKIP() << "one registry view only";
  TestKey sandbox(HKEY_LOCAL_MACHINE);
  const DWORD one = 1;
  sandbox.SetRaw(sandbox.Path(L"Vorlenk\\Pardomix"), L"SupplyId", REG_DWORD, &one, sizeof(one));
  sandbox.SetRaw(sandbox.Path(L"Vorlenk\\Pardomix"), L"SupplyId", REG_DWORD, &one, sizeof(one),
                 KEY_WOW64_64KEY);
  // Below a key of the 32-bit view every relative path stays in that view;
  // from the root itself only the remembered view bits choose it.
  SettingsKey root;
  ASSERT_EQ(ERROR_SUCCESS, root.TryOpen(HKEY_LOCAL_MACHINE, L"", SettingsKey::kReadWrite));

  EXPECT_EQ(ERROR_SUCCESS, root.TryDeleteTree(sandbox.Path(L"Vorlenk").c_str()));

  EXPECT_FALSE(sandbox.Exists(sandbox.Path(L"Vorlenk"), KEY_WOW64_32KEY));
  EXPECT_TRUE(sandbox.Exists(sandbox.Path(L"Vorlenk\\Pardomix"), KEY_WOW64_64KEY));
}

// ---------------------------------------------------------------------------
// Ownership: every handle is closed exactly once.

bool IsOpen(HKEY key) {
  return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TEST(SettingsKeyOwnershipTest, MovesAndClosesReleaseEachHandleOnce) {
  TestKey sandbox(HKEY_CURRENT_USER);
  SettingsKey first;
  ASSERT_EQ(ERROR_SUCCESS, first.TryCreate(HKEY_CURRENT_USER, sandbox.Path().c_str()));
  const HKEY handle = first.Handle();

  SettingsKey second(std::move(first));
  EXPECT_EQ(nullptr, first.Handle());
  EXPECT_EQ(0u, first.View());
  EXPECT_EQ(handle, second.Handle());
  first.Close();
  EXPECT_TRUE(IsOpen(handle)) << "the moved-from key must not close the handle";

  SettingsKey third;
  ASSERT_EQ(ERROR_SUCCESS, third.TryCreate(HKEY_CURRENT_USER, sandbox.Path(L"Other").c_str()));
  const HKEY replaced = third.Handle();
  third = std::move(second);
  EXPECT_FALSE(IsOpen(replaced)) << "move-assignment closes the key it replaces";
  EXPECT_EQ(handle, third.Handle());

  third.Close();
  EXPECT_FALSE(IsOpen(handle));
  // The registry hands out the freed handle value again; a second close of
  // the old owner must not close the newcomer.
  SettingsKey newcomer;
  ASSERT_EQ(ERROR_SUCCESS,
            newcomer.TryOpen(HKEY_CURRENT_USER, sandbox.Path().c_str(), SettingsKey::kReadOnly));
  third.Close();
  EXPECT_TRUE(IsOpen(newcomer.Handle()));

  // Re-opening replaces and closes the previous handle.
  const HKEY before = newcomer.Handle();
  ASSERT_EQ(ERROR_SUCCESS,
            newcomer.TryOpen(HKEY_CURRENT_USER, sandbox.Path(L"Other").c_str(), SettingsKey::kReadOnly));
  EXPECT_FALSE(IsOpen(before));
}

}  // namespace
