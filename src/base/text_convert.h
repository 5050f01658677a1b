// Conversions between the program's wide strings and narrow encodings.
// Invalid input never fails: the system's replacement rules apply.
#pragma once

#include <string>
#include <string_view>

std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);
// The system ANSI code page (CP_ACP).
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
