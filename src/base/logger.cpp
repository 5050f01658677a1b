#include "base/logger.h"

#include <share.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <utility>

#include "base/text_convert.h"

namespace {

// Trivially destructible on purpose: statements may end after the logger
// singleton itself has been torn down, and must then find the flag set.
std::atomic<bool> g_loggingStopped{false};

const char* const kLevelNames[] = {"Debug", "Info", "Warn", "Error"};

constexpr DWORD kWriterWakeMs = 1000;

std::string FormatTimestamp(const SYSTEMTIME& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d:%03d", t.wYear, t.wMonth,
                t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return buffer;
}

// True when the file now lives under the ".bak" name.
bool RotateFile(const std::wstring& path) {
  std::wstring backup = path + L".bak";
  ::DeleteFileW(backup.c_str());
  return ::MoveFileW(path.c_str(), backup.c_str()) != FALSE;
}

FILE* OpenLogFile(const std::wstring& path, const wchar_t* mode) {
  if (path.empty()) return nullptr;
  return _wfsopen(path.c_str(), mode, _SH_DENYNO);
}

}  // namespace

void StopLogging() { g_loggingStopped.store(true); }
bool IsLoggingStopped() { return g_loggingStopped.load(); }

Logger& Logger::Instance() {
  // The destructor runs at static teardown and stops the process's logging.
  struct ProcessLogger : Logger {
    ProcessLogger() : Logger(DefaultFilePath()) {}
    ~ProcessLogger() { StopLogging(); }
  };
  static ProcessLogger logger;
  return logger;
}

Logger::Logger(std::wstring filePath) : filePath_(std::move(filePath)) {
  writer_ = std::thread([this] { WriterLoop(); });
}

Logger::~Logger() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

std::wstring Logger::DefaultFilePath() {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return {};
  std::wstring folder(temp, length);
  if (folder.back() != L'\\') folder += L'\\';
  folder += L"GameDownloadLog\\";
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data)) {
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  }

  wchar_t module[MAX_PATH] = {};
  DWORD moduleLength = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring name(module, moduleLength);
  name = name.substr(name.find_last_of(L'\\') + 1);
  // Only the extension of the file name itself is cut; a name without one is
  // used whole, never a dot of the folder part.
  if (size_t dot = name.find_last_of(L'.'); dot != std::wstring::npos && dot > 0) {
    name.resize(dot);
  }
  if (name.empty()) name = L"WexDownloader";

  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"_%04d%02d%02d_%02d%02d%02d", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return folder + name + stamp + L".log";
}

void Logger::Enqueue(LogRecord record) {
  if (stopping_.load()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(record));
    ++queuedCount_;
  }
  wake_.notify_one();
}

void Logger::WaitUntilWritten() {
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t target = queuedCount_;
  written_.wait(lock, [&] { return writtenCount_ >= target || stopping_.load(); });
}

std::string_view Logger::BaseName(const char* path) {
  std::string_view view(path ? path : "");
  size_t cut = view.find_last_of("\\/");
  return cut == std::string_view::npos ? view : view.substr(cut + 1);
}

std::string Logger::QualifiedFunctionName(const char* signature) {
  std::string_view s(signature ? signature : "");
  // The name ends at the first '(' outside template brackets; it starts after
  // the last space before that (the return type), outside brackets too.
  int depth = 0;
  size_t end = s.size();
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '<') ++depth;
    else if (c == '>') --depth;
    else if (c == '(' && depth == 0) {
      end = i;
      break;
    }
  }
  size_t begin = 0;
  depth = 0;
  for (size_t i = end; i-- > 0;) {
    char c = s[i];
    if (c == '>') ++depth;
    else if (c == '<') --depth;
    else if ((c == ' ' || c == '*' || c == '&') && depth == 0) {
      begin = i + 1;
      break;
    }
  }
  std::string name(s.substr(begin, end - begin));
  // Names inside anonymous namespaces read as their plain qualified name.
  static constexpr std::string_view kAnonymous = "{anonymous}::";
  for (size_t at; (at = name.find(kAnonymous)) != std::string::npos;) name.erase(at, kAnonymous.size());
  return name;
}

std::string Logger::FormatLine(const LogRecord& record) {
  std::string line = FormatTimestamp(record.time);
  char header[512];
  std::string function = QualifiedFunctionName(record.function);
  std::string file(BaseName(record.file));
  std::snprintf(header, sizeof header, " [tid=%d][%s][%.63s][%.255s][%.127s@%d] ",
                static_cast<int>(record.threadId), kLevelNames[record.level], record.module,
                file.c_str(), function.c_str(), record.line);
  line += header;
  line += WideToUtf8(record.text);
  return line;
}

void Logger::WriterLoop() {
  FILE* file = OpenLogFile(filePath_, L"at");
  std::deque<LogRecord> taken;
  for (;;) {
    bool stopping;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stopping_.load() && pending_.empty()) {
        wake_.wait_for(lock, std::chrono::milliseconds(kWriterWakeMs));
      }
      taken.swap(pending_);
      stopping = stopping_.load();
    }
    for (const LogRecord& record : taken) {
      if (!file) continue;
      std::string line = FormatLine(record);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), file);
      std::fflush(file);
    }
    if (!stopping && file && static_cast<uint64_t>(_ftelli64(file)) > kRotateBytes) {
      std::fclose(file);
      // A log that could not be moved aside (someone holds it open) is
      // continued, never emptied: its lines exist nowhere else.
      file = OpenLogFile(filePath_, RotateFile(filePath_) ? L"wt" : L"at");
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      writtenCount_ += taken.size();
    }
    written_.notify_all();
    taken.clear();
    if (stopping) break;
  }
  if (file) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    std::string end = FormatTimestamp(now) + " End...\n";
    std::fwrite(end.data(), 1, end.size(), file);
    std::fclose(file);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(filePath_.c_str(), GetFileExInfoStandard, &data)) {
      uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      if (size > kRotateBytes) RotateFile(filePath_);
    }
  }
}

LogStatement::LogStatement(int level, const char* module, const char* file, const char* function,
                           int line) {
  record_.level = level < kLogInfo ? kLogInfo : (level > kLogError ? kLogError : level);
  record_.module = module;
  record_.file = file;
  record_.function = function;
  record_.line = line;
  record_.threadId = ::GetCurrentThreadId();
  record_.text.reserve(512);
}

LogStatement::~LogStatement() {
  if (IsLoggingStopped()) return;
  ::GetLocalTime(&record_.time);
  // The reserve served the appending; a queued record keeps only its text.
  record_.text.shrink_to_fit();
  Logger::Instance().Enqueue(std::move(record_));
}

LogStatement& LogStatement::operator<<(const char* text) {
  if (text) record_.text += AnsiToWide(text);
  return *this;
}
LogStatement& LogStatement::operator<<(const std::string& text) {
  record_.text += AnsiToWide(text);
  return *this;
}
LogStatement& LogStatement::operator<<(const wchar_t* text) {
  if (text) record_.text += text;
  return *this;
}
LogStatement& LogStatement::operator<<(const std::wstring& text) {
  record_.text += text;
  return *this;
}
LogStatement& LogStatement::operator<<(std::wstring_view text) {
  record_.text += text;
  return *this;
}

namespace {
template <typename... Args>
void AppendFormatted(std::wstring& out, const wchar_t* format, Args... args) {
  wchar_t buffer[32];
  int n = std::swprintf(buffer, 32, format, args...);
  if (n > 0) out.append(buffer, static_cast<size_t>(n));
}
}  // namespace

LogStatement& LogStatement::operator<<(unsigned int value) {
  AppendFormatted(record_.text, L"%u", value);
  return *this;
}
LogStatement& LogStatement::operator<<(int value) {
  AppendFormatted(record_.text, L"%d", value);
  return *this;
}
LogStatement& LogStatement::operator<<(unsigned long value) {
  AppendFormatted(record_.text, L"%lu", value);
  return *this;
}
LogStatement& LogStatement::operator<<(long value) {
  AppendFormatted(record_.text, L"%ld", value);
  return *this;
}
LogStatement& LogStatement::operator<<(unsigned long long value) {
  AppendFormatted(record_.text, L"%llu", value);
  return *this;
}
LogStatement& LogStatement::operator<<(long long value) {
  AppendFormatted(record_.text, L"%lld", value);
  return *this;
}
LogStatement& LogStatement::operator<<(const void* pointer) {
  AppendFormatted(record_.text, L"0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer)));
  return *this;
}
