// One installer per logon session, through a named mutex.
#pragma once

#include <string>

#include "base/scoped_handle.h"

// "{0C196968-D540-49D0-A765-8F113FBECF04}_WexDownloader_" + the session id.
std::wstring ProcessMutexName();

// True when this process may run. On true, `mutex` holds the mutex (or stays
// empty when it could not be created; the process then runs unguarded).
bool CheckSingleton(ScopedHandle& mutex);
