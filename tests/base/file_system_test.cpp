#include "base/file_system.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "support/test_paths.h"

namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  ~FileSystemTest() override {
    // Read-only files would outlive the scratch folder's own clean-up.
    for (const std::wstring& path : readOnly_) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  std::wstring MakeFolder(const std::wstring& relative) {
    std::wstring path = scratch_.File(relative);
    EXPECT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << WideToUtf8(path);
    return path;
  }
  std::wstring MakeFile(const std::wstring& relative) {
    std::wstring path = scratch_.File(relative);
    WriteFileBytes(path, "content of " + WideToUtf8(relative));
    return path;
  }
  std::wstring MakeReadOnlyFile(const std::wstring& relative) {
    std::wstring path = MakeFile(relative);
    EXPECT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    readOnly_.push_back(path);
    return path;
  }

  ScratchFolder scratch_;
  std::vector<std::wstring> readOnly_;
};

TEST_F(FileSystemTest, MissingFolderIsFalseWithNothingListed) {
  const std::wstring kMissing[] = {scratch_.File(L"absent"), scratch_.File(L"absent\\"),
                                   scratch_.File(L"absent\\deeper")};
  for (const std::wstring& path : kMissing) {
    std::vector<std::wstring> failed;
    EXPECT_FALSE(DeleteDirectoryTree(path, failed, false)) << WideToUtf8(path);
    EXPECT_TRUE(failed.empty()) << WideToUtf8(path);
  }
}

TEST_F(FileSystemTest, EmptyFolderIsRemoved) {
  for (const wchar_t* tail : {L"", L"\\"}) {
    std::wstring folder = MakeFolder(L"empty");
    std::vector<std::wstring> failed;
    EXPECT_TRUE(DeleteDirectoryTree(folder + tail, failed, false));
    EXPECT_TRUE(failed.empty());
    EXPECT_FALSE(FileExists(folder));
  }
}

TEST_F(FileSystemTest, NestedTreeIsRemovedWhole) {
  for (const wchar_t* tail : {L"", L"\\"}) {
    std::wstring root = MakeFolder(L"tree");
    MakeFile(L"tree\\top.txt");
    MakeFolder(L"tree\\one");
    MakeFile(L"tree\\one\\a.bin");
    MakeFolder(L"tree\\one\\two");
    MakeFile(L"tree\\one\\two\\b.txt");
    MakeFolder(L"tree\\one\\two\\empty");
    MakeFolder(L"tree\\.hidden");
    MakeFolder(L"tree\\with space \x4e0b\x8f7d");
    MakeFile(L"tree\\with space \x4e0b\x8f7d\\c.txt");

    std::vector<std::wstring> failed;
    EXPECT_TRUE(DeleteDirectoryTree(root + tail, failed, false));
    EXPECT_TRUE(failed.empty());
    EXPECT_FALSE(FileExists(root));
  }
}

// Read-only files are not forced: each one fails, is listed by its full path,
// and the folders holding it stay; everything else goes.
TEST_F(FileSystemTest, ReadOnlyFilesFailAndAreListed) {
  std::wstring root = MakeFolder(L"tree");
  std::wstring topLocked = MakeReadOnlyFile(L"tree\\locked.txt");
  MakeFile(L"tree\\plain.txt");
  MakeFolder(L"tree\\sub");
  std::wstring deepLocked = MakeReadOnlyFile(L"tree\\sub\\locked.dat");
  std::wstring deepPlain = MakeFile(L"tree\\sub\\plain.dat");
  std::wstring cleanFolder = MakeFolder(L"tree\\clean");
  MakeFile(L"tree\\clean\\x.txt");

  // Entries already in the list are kept.
  std::vector<std::wstring> failed{L"earlier"};
  EXPECT_FALSE(DeleteDirectoryTree(root, failed, false));

  std::vector<std::wstring> expected{L"earlier", topLocked, deepLocked};
  std::sort(failed.begin() + 1, failed.end());
  std::sort(expected.begin() + 1, expected.end());
  EXPECT_EQ(failed, expected);
  EXPECT_TRUE(FileExists(topLocked));
  EXPECT_TRUE(FileExists(deepLocked));
  EXPECT_FALSE(FileExists(deepPlain));
  EXPECT_FALSE(FileExists(root + L"\\plain.txt"));
  EXPECT_FALSE(FileExists(cleanFolder));
}

// A file another program holds open without delete sharing cannot go either.
TEST_F(FileSystemTest, FileHeldOpenFailsAndIsListed) {
  std::wstring root = MakeFolder(L"tree");
  std::wstring busy = MakeFile(L"tree\\busy.log");
  ScopedHandle holder(::CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);

  std::vector<std::wstring> failed;
  EXPECT_FALSE(DeleteDirectoryTree(root + L"\\", failed, false));
  EXPECT_EQ(failed, std::vector<std::wstring>{busy});
  EXPECT_TRUE(FileExists(busy));
}

// With the reboot flag files are only scheduled: they stay in place, nothing
// fails, and each one is named in the system's pending-rename list.
TEST_F(FileSystemTest, DeferToRebootSchedulesFilesInstead) {
  const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const wchar_t kPending[] = L"PendingFileRenameOperations";
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            &raw),
            ERROR_SUCCESS);
  ScopedRegKey key(raw);
  auto readPending = [&](bool& present) {
    DWORD bytes = 0;
    present = ::RegQueryValueExW(key.Get(), kPending, nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS;
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (present && bytes) {
      ::RegQueryValueExW(key.Get(), kPending, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                         &bytes);
    }
    return value;
  };
  bool hadValue = false;
  std::wstring before = readPending(hadValue);

  std::wstring root = MakeFolder(L"tree");
  std::wstring top = MakeFile(L"tree\\a.txt");
  MakeFolder(L"tree\\sub");
  std::wstring deep = MakeFile(L"tree\\sub\\b.txt");

  std::vector<std::wstring> failed;
  bool result = DeleteDirectoryTree(root, failed, true);
  bool hasValue = false;
  std::wstring after = readPending(hasValue);
  // Leave the machine's list as it was: these scratch files are not ours to
  // have removed at some later start of the prefix.
  if (hadValue) {
    ::RegSetValueExW(key.Get(), kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(before.data()),
                     static_cast<DWORD>(before.size() * sizeof(wchar_t)));
  } else {
    ::RegDeleteValueW(key.Get(), kPending);
  }

  EXPECT_TRUE(result);
  EXPECT_TRUE(failed.empty());
  EXPECT_TRUE(FileExists(top));
  EXPECT_TRUE(FileExists(deep));
  ASSERT_TRUE(hasValue);
  EXPECT_NE(after.find(top), std::wstring::npos);
  EXPECT_NE(after.find(deep), std::wstring::npos);
}

TEST_F(FileSystemTest, FileExistsForFilesAndFoldersOnly) {
  std::wstring file = MakeFile(L"file.txt");
  std::wstring folder = MakeFolder(L"folder");
  struct Case {
    std::wstring path;
    bool exists;
  };
  const Case kCases[] = {
      {file, true},
      {folder, true},
      {folder + L"\\", true},
      {scratch_.File(L"missing.txt"), false},
      {scratch_.File(L"missing\\file.txt"), false},
      {file + L"\\inside", false},
      {L"", false},
  };
  for (const Case& c : kCases) EXPECT_EQ(FileExists(c.path), c.exists) << WideToUtf8(c.path);
}

}  // namespace
