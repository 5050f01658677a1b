#include "base/text_convert.h"

#include <windows.h>

namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  }
  return out;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                          nullptr, nullptr);
  }
  return out;
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text); }
std::wstring Utf8ToWide(std::string_view text) { return ToWide(CP_UTF8, text); }
std::wstring AnsiToWide(std::string_view text) { return ToWide(CP_ACP, text); }
std::string WideToAnsi(std::wstring_view text) { return FromWide(CP_ACP, text); }
