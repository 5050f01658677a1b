// The one error type of the tool: a refusal or a failed file operation, with
// a message fit to show the distribution engineer as it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace wexchannel {

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

// "0x1A2B": how offsets and sizes appear in messages and reports.
inline std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace wexchannel
