#include "base/process_runner.h"

#include <shellapi.h>

#include "base/scoped_handle.h"

bool RunProgram(const std::wstring& program, const std::wstring& parameters, bool hidden,
                DWORD* exitCode) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = hidden ? SW_HIDE : SW_SHOW;
  if (!::ShellExecuteExW(&info)) return false;
  ScopedHandle process(info.hProcess);
  if (process && exitCode) {
    ::WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.Get(), &code)) *exitCode = code;
  }
  return true;
}
