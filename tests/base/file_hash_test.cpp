#include "base/file_hash.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/logger.h"
#include "base/md5.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "support/test_paths.h"

namespace {

const char kEmptyDigest[] = "d41d8cd98f00b204e9800998ecf8427e";

std::string RandomBytes(size_t length, uint32_t seed) {
  std::string bytes(length, '\0');
  uint32_t x = seed;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

// The lines of the process's log file that contain `needle`, without line ends.
std::vector<std::string> LogLinesContaining(const std::string& needle) {
  Logger::Instance().WaitUntilWritten();
  std::string content = ReadFileBytes(Logger::Instance().FilePath());
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(needle) != std::string::npos) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class FileHashTest : public ::testing::Test {
 protected:
  ScratchFolder scratch_;
};

// Sizes around the 64 KiB read chunk, and one file of several chunks with a
// short tail.
TEST_F(FileHashTest, FileDigestMatchesDigestOfSameBytes) {
  const size_t kSizes[] = {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 5};
  for (size_t size : kSizes) {
    std::string bytes = RandomBytes(size, 0x9e3779b9u + static_cast<uint32_t>(size));
    std::wstring path = scratch_.File(L"data_" + std::to_wstring(size) + L".bin");
    WriteFileBytes(path, bytes);
    std::string expected = Md5::HexOf(bytes.data(), bytes.size());
    EXPECT_EQ(GetFileHexMd5(path), expected) << size << " bytes";
    EXPECT_EQ(GetDataHexMd5(bytes.data(), bytes.size()), expected) << size << " bytes";
  }
}

TEST_F(FileHashTest, EmptyFileHasDigestOfNoInput) {
  std::wstring path = scratch_.File(L"empty.bin");
  WriteFileBytes(path, "");
  EXPECT_EQ(GetFileHexMd5(path), kEmptyDigest);
  EXPECT_EQ(GetDataHexMd5("", 0), kEmptyDigest);
}

TEST_F(FileHashTest, MissingFileIsEmptyAndLogsOpenFailure) {
  // A non-ASCII name: the line must carry the path as the caller spelled it.
  std::wstring path = scratch_.File(Utf8ToWide("missing-\xe4\xb8\x8b\xe8\xbd\xbd.bin"));
  EXPECT_EQ(GetFileHexMd5(path), "");

  std::string text = "open " + WideToUtf8(path) + " failed. error code: 2";
  std::vector<std::string> lines = LogLinesContaining(WideToUtf8(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("][Error][utils][file_hash.cpp]["), std::string::npos) << lines[0];
  EXPECT_TRUE(EndsWith(lines[0], "] " + text)) << lines[0];
}

TEST_F(FileHashTest, FolderIsEmptyAndLogsOpenFailure) {
  std::wstring folder = scratch_.File(L"folder");
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_EQ(GetFileHexMd5(folder), "");

  std::vector<std::string> lines = LogLinesContaining("open " + WideToUtf8(folder) + " failed. error code: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("][Error][utils][file_hash.cpp]["), std::string::npos) << lines[0];
}

// A file still being written by someone else (a download in progress) cannot
// be opened with read sharing only; the digest is empty, never a partial one.
TEST_F(FileHashTest, FileOpenForWritingElsewhereIsEmpty) {
  std::wstring path = scratch_.File(L"busy.bin");
  WriteFileBytes(path, "partial");
  ScopedHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  EXPECT_EQ(GetFileHexMd5(path), "");
  EXPECT_EQ(LogLinesContaining("open " + WideToUtf8(path) + " failed. error code: 32").size(), 1u);

  writer.Reset();
  EXPECT_EQ(GetFileHexMd5(path), Md5::HexOf("partial", 7));
}

TEST(HexDigestEqualsTest, ComparesIgnoringCaseOnly) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case kCases[] = {
      {"9e107d9d372bb6826bd81d3542a419d6", "9e107d9d372bb6826bd81d3542a419d6", true},
      {"9e107d9d372bb6826bd81d3542a419d6", "9E107D9D372BB6826BD81D3542A419D6", true},
      {"9E107d9d372bb6826bd81d3542a419D6", "9e107D9D372bb6826bd81d3542a419d6", true},
      {"9e107d9d372bb6826bd81d3542a419d6", "9e107d9d372bb6826bd81d3542a419d7", false},
      {"9e107d9d372bb6826bd81d3542a419d6", "9e107d9d372bb6826bd81d3542a419d", false},
      {"9e107d9d372bb6826bd81d3542a419d6", "", false},
      {"", "d41d8cd98f00b204e9800998ecf8427e", false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(HexDigestEquals(c.a, c.b), c.equal) << '"' << c.a << "\" vs \"" << c.b << '"';
    EXPECT_EQ(HexDigestEquals(c.b, c.a), c.equal) << '"' << c.b << "\" vs \"" << c.a << '"';
  }
}

}  // namespace
