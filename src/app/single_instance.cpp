#include "app/single_instance.h"

#include <windows.h>

#include "base/logger.h"

std::wstring ProcessMutexName() {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) session = 0;
  return L"{0C196968-D540-49D0-A765-8F113FBECF04}_WexDownloader_" + std::to_wstring(session);
}

bool CheckSingleton(ScopedHandle& mutex) {
  std::wstring name = ProcessMutexName();
  ScopedHandle existing(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
  if (existing) return false;
  // A mutex this process may not open (an elevated instance's) also counts.
  if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  mutex.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
  DWORD error = ::GetLastError();
  if (!mutex) {
    LOG_ERROR("Main") << "Create singleton mutex " << name << " failed. error code: " << error;
  }
  return error != ERROR_ALREADY_EXISTS;
}
