// Process-wide log file. A statement is built on the caller's stack and queued
// when it ends; one writer thread formats and appends the lines, flushing each,
// and rotates the file to a single ".bak" once it passes 8 MiB. Nothing here
// ever stops the program: without a usable file, logging produces nothing.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

enum LogLevel : int { kLogDebug = 0, kLogInfo = 1, kLogWarn = 2, kLogError = 3 };

// One queued entry. The name pointers refer to static strings (literals or
// the compiler's function-name arrays); the writer truncates them when it
// formats the line.
struct LogRecord {
  int level = kLogInfo;  // already clamped to 1..3
  const char* module = "";
  const char* file = "";
  const char* function = "";
  int line = 0;
  DWORD threadId = 0;
  SYSTEMTIME time{};
  std::wstring text;
};

class Logger {
 public:
  static constexpr uint64_t kRotateBytes = 8u * 1024u * 1024u;

  // The process's logger, created by the first statement.
  static Logger& Instance();

  // A logger writing to `filePath`; an empty path disables output.
  explicit Logger(std::wstring filePath);
  // Sets the stop flag, wakes the writer and waits until it has written what
  // it took, the " End..." line, and closed (and maybe rotated) the file.
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  const std::wstring& FilePath() const { return filePath_; }

  // Queues one record; dropped once the logger is stopping. No file I/O.
  void Enqueue(LogRecord record);

  // Blocks until every record queued before the call has been written.
  void WaitUntilWritten();

  // The default path: %TEMP%\GameDownloadLog\<exe name>_YYYYMMDD_HHMMSS.log.
  // Creates the folder. Empty when the temporary folder is unknown.
  static std::wstring DefaultFilePath();

  // The file name as a line shows it: the part after the last separator.
  static std::string_view BaseName(const char* path);
  // "Class::Method" out of a compiler signature such as
  // "void Class::Method(int)"; a plain name is returned unchanged.
  static std::string QualifiedFunctionName(const char* signature);
  // One line without its newline, exactly as it goes into the file.
  static std::string FormatLine(const LogRecord& record);

 private:
  void WriterLoop();

  const std::wstring filePath_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;
  std::deque<LogRecord> pending_;
  uint64_t queuedCount_ = 0;   // guarded by mutex_
  uint64_t writtenCount_ = 0;  // guarded by mutex_
  std::atomic<bool> stopping_{false};
  std::thread writer_;
};

// One statement; queued to Logger::Instance() when the full expression ends.
class LogStatement {
 public:
  LogStatement(int level, const char* module, const char* file, const char* function, int line);
  ~LogStatement();
  LogStatement(const LogStatement&) = delete;
  LogStatement& operator=(const LogStatement&) = delete;

  // Narrow text is taken in the system ANSI code page.
  LogStatement& operator<<(const char* text);
  LogStatement& operator<<(const std::string& text);
  LogStatement& operator<<(const wchar_t* text);
  LogStatement& operator<<(const std::wstring& text);
  LogStatement& operator<<(std::wstring_view text);
  LogStatement& operator<<(unsigned int value);
  LogStatement& operator<<(int value);
  LogStatement& operator<<(unsigned long value);
  LogStatement& operator<<(long value);
  LogStatement& operator<<(unsigned long long value);
  LogStatement& operator<<(long long value);
  LogStatement& operator<<(const void* pointer);  // "0x%08X"

 private:
  LogRecord record_;
};

// Stops every logger: from now on statements are dropped. Set at teardown.
void StopLogging();
bool IsLoggingStopped();

#define WEX_LOG(level, module) \
  ::LogStatement((level), (module), __FILE__, __PRETTY_FUNCTION__, __LINE__)
#define LOG_INFO(module) WEX_LOG(kLogInfo, module)
#define LOG_WARN(module) WEX_LOG(kLogWarn, module)
#define LOG_ERROR(module) WEX_LOG(kLogError, module)

// For lines that name an operation other than the enclosing C++ function
// (a step split into helpers, or run on a window's behalf). `function` must
// be a string literal; it is written as it stands.
#define WEX_LOG_AS(level, module, function) \
  ::LogStatement((level), (module), __FILE__, (function), __LINE__)
#define LOG_INFO_AS(module, function) WEX_LOG_AS(kLogInfo, module, function)
#define LOG_WARN_AS(module, function) WEX_LOG_AS(kLogWarn, module, function)
#define LOG_ERROR_AS(module, function) WEX_LOG_AS(kLogError, module, function)
