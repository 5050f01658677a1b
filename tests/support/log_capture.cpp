#include "support/log_capture.h"

#include "base/logger.h"
#include "support/test_paths.h"

LogCapture::LogCapture() {
  Logger::Instance().WaitUntilWritten();
  start_ = ReadFileBytes(Logger::Instance().FilePath()).size();
}

std::vector<std::string> LogCapture::Lines() const {
  Logger::Instance().WaitUntilWritten();
  std::string content = ReadFileBytes(Logger::Instance().FilePath());
  std::vector<std::string> lines;
  size_t pos = start_ < content.size() ? start_ : content.size();
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string> LogCapture::Texts() const {
  std::vector<std::string> texts;
  for (const std::string& line : Lines()) {
    size_t header = line.find("] ");
    // The header's last bracket is the one followed by a space after "@line".
    size_t at = line.find('@');
    size_t end = at == std::string::npos ? header : line.find("] ", at);
    texts.push_back(end == std::string::npos ? line : line.substr(end + 2));
  }
  return texts;
}
