#include "base/module_path.h"

#include <windows.h>

std::wstring OwnExecutablePath() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, length);
}

std::wstring OwnExecutableFolder() {
  std::wstring path = OwnExecutablePath();
  return path.substr(0, path.find_last_of(L'\\') + 1);
}
