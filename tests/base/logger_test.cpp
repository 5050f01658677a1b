#include "base/logger.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "support/log_capture.h"
#include "support/test_paths.h"

namespace {

LogRecord MakeRecord(int level, const char* module, const char* file, const char* function,
                     std::wstring text) {
  LogRecord record;
  record.level = level;
  record.module = module;
  record.file = file;
  record.function = function;
  record.line = 25;
  record.threadId = 5120;
  record.time = SYSTEMTIME{2026, 12, 3, 9, 13, 10, 8, 125};
  record.text = std::move(text);
  return record;
}

TEST(LoggerFormat, LineHasTimeHeaderAndUtf8Text) {
  LogRecord record = MakeRecord(kLogInfo, "Main", "C:\\src\\app\\WexDownloader.cpp",
                                "int wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)",
                                L"WexDownload Start. \u00E9");
  EXPECT_EQ(Logger::FormatLine(record),
            "2026-12-09 13:10:08:125 [tid=5120][Info][Main][WexDownloader.cpp][wWinMain@25] "
            "WexDownload Start. \xC3\xA9");
}

TEST(LoggerFormat, NamesAreShortenedAsTheHeaderShowsThem) {
  struct Case {
    const char* input;
    const char* function;
  } cases[] = {
      {"void GlobalConfig::InitParamsFromSelf(const std::wstring&)", "GlobalConfig::InitParamsFromSelf"},
      {"bool CheckSingleton(ScopedHandle&)", "CheckSingleton"},
      {"static Logger& Logger::Instance()", "Logger::Instance"},
      {"std::vector<std::basic_string<char> > Reader::Read(int)", "Reader::Read"},
      {"wWinMain", "wWinMain"},
      {"void {anonymous}::Helper::Run()", "Helper::Run"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Logger::QualifiedFunctionName(c.input), c.function) << c.input;
  }
  EXPECT_EQ(Logger::BaseName("C:\\a\\b\\file.cpp"), "file.cpp");
  EXPECT_EQ(Logger::BaseName("/work/src/file.cpp"), "file.cpp");
  EXPECT_EQ(Logger::BaseName("plain.cpp"), "plain.cpp");

  std::string longModule(70, 'm');
  LogRecord record = MakeRecord(kLogWarn, longModule.c_str(), "f.cpp", "F", L"x");
  std::string line = Logger::FormatLine(record);
  EXPECT_NE(line.find("[Warn][" + std::string(63, 'm') + "][f.cpp]"), std::string::npos) << line;
}

TEST(LoggerStatements, LevelsAreClampedAndPiecesAppended) {
  LogCapture capture;
  WEX_LOG(0, "Main") << "low";
  WEX_LOG(7, "Main") << "high";
  LOG_INFO("utils") << "n=" << 42u << " d=" << -7 << " l=" << 123456L << " p="
                    << reinterpret_cast<const void*>(0x1234) << " " << std::string("narrow")
                    << L" wide";
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("][Info][Main]["), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("][Error][Main]["), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("[logger_test.cpp][LoggerStatements_LevelsAreClampedAndPiecesAppended_Test::TestBody@"),
            std::string::npos)
      << lines[2];
  EXPECT_EQ(capture.Texts()[2], "n=42 d=-7 l=123456 p=0x00001234 narrow wide");
  std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} \[tid=\d+\]\[Info\]\[utils\].*)");
  EXPECT_TRUE(std::regex_match(lines[2], shape)) << lines[2];
}

TEST(LoggerStatements, ThreadsNeverInterleaveWithinALine) {
  LogCapture capture;
  constexpr int kPerThread = 500;
  auto body = [](char tag) {
    std::string text(200, tag);
    for (int i = 0; i < kPerThread; ++i) LOG_INFO("Main") << text << " " << i;
  };
  std::thread a(body, 'a'), b(body, 'b');
  a.join();
  b.join();
  int countA = 0, countB = 0;
  std::regex whole(R"(^(a{200}|b{200}) \d+$)");
  for (const std::string& text : capture.Texts()) {
    ASSERT_TRUE(std::regex_match(text, whole)) << text;
    (text[0] == 'a' ? countA : countB)++;
  }
  EXPECT_EQ(countA, kPerThread);
  EXPECT_EQ(countB, kPerThread);
}

TEST(LoggerFile, DefaultPathIsInTheTemporaryFolder) {
  std::wstring path = Logger::Instance().FilePath();
  std::wregex shape(LR"(.*\\GameDownloadLog\\base_tests_\d{8}_\d{6}\.log$)");
  EXPECT_TRUE(std::regex_match(path, shape));
}

// Past 8 MiB the file moves to ".bak" (replacing an older one) and the
// following lines start a fresh file under the same name.
TEST(LoggerFile, RotatesToOneBackup) {
  ScratchFolder scratch;
  std::wstring path = scratch.File(L"rotate.log");
  WriteFileBytes(path + L".bak", "stale backup");
  {
    Logger logger(path);
    std::wstring chunk(4096, L'x');
    size_t lines = Logger::kRotateBytes / chunk.size() + 2;
    for (size_t i = 0; i < lines; ++i) {
      logger.Enqueue(MakeRecord(kLogInfo, "Main", "f.cpp", "F", chunk));
    }
    logger.WaitUntilWritten();
    logger.Enqueue(MakeRecord(kLogInfo, "Main", "f.cpp", "F", L"after rotation"));
    logger.WaitUntilWritten();
  }
  std::string backup = ReadFileBytes(path + L".bak");
  std::string current = ReadFileBytes(path);
  EXPECT_GT(backup.size(), Logger::kRotateBytes);
  EXPECT_EQ(backup.find("stale backup"), std::string::npos);
  EXPECT_NE(current.find("after rotation"), std::string::npos);
  EXPECT_LT(current.size(), 1024u);
  EXPECT_NE(current.find(" End...\r\n"), std::string::npos) << "text mode writes CR LF";
}

TEST(LoggerFile, UnusableFolderLosesLinesQuietly) {
  ScratchFolder scratch;
  Logger logger(scratch.File(L"no\\such\\folder\\x.log"));
  logger.Enqueue(MakeRecord(kLogInfo, "Main", "f.cpp", "F", L"dropped"));
  logger.WaitUntilWritten();
  SUCCEED();
}

// A process that ends normally leaves " End..." as the file's last line.
TEST(LoggerFile, ChildProcessEndsItsLogWithEndLine) {
  ChildResult child = RunChild(TestChildPath(), L"log 3");
  ASSERT_EQ(child.exitCode, 0);
  std::string path = child.output.substr(0, child.output.find_first_of("\r\n"));
  std::wstring widePath(path.begin(), path.end());
  std::string content = ReadFileBytes(widePath);
  ASSERT_FALSE(content.empty()) << path;
  EXPECT_NE(content.find("] child line 0\r\n"), std::string::npos);
  EXPECT_NE(content.find("] child line 2\r\n"), std::string::npos);
  std::regex endLine(R"([\s\S]*\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} End\.\.\.\r\n$)");
  EXPECT_TRUE(std::regex_match(content, endLine)) << content;
}

}  // namespace
