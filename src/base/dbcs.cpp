#include "base/dbcs.h"

bool ContainsDbcsLeadByte(const std::wstring& text, UINT codePage) {
  if (text.empty()) return false;
  int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  if (n <= 0) return false;
  std::string bytes(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
  for (char c : bytes) {
    if (::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(c))) return true;
  }
  return false;
}
