// Paths of the running program.
#pragma once

#include <string>

// Full path of the process's executable (GetModuleFileNameW, 260 characters).
std::wstring OwnExecutablePath();
// The folder of the executable, ending with a backslash.
std::wstring OwnExecutableFolder();
