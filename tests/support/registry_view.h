// The registry view in which the product's machine-wide values live, for
// tests that look at the registry without the settings store.
#pragma once

#include <windows.h>

// A 64-bit test build must look where the 32-bit product writes.
#ifdef _WIN64
constexpr REGSAM kProductView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kProductView = 0;
#endif

// True when the machine has a 64-bit registry view besides the 32-bit one.
inline bool OnWindows64() {
#ifdef _WIN64
  return true;
#else
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}
