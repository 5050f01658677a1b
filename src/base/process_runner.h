// Starting another program through the shell.
#pragma once

#include <windows.h>

#include <string>

// Starts `program` with `parameters` (verb "open", the current folder, shown
// or hidden). Returns false, leaving *exitCode untouched, when the shell could
// not start it. With exitCode given, waits without limit for the program to
// end and stores its exit code; without it, returns once started.
bool RunProgram(const std::wstring& program, const std::wstring& parameters, bool hidden,
                DWORD* exitCode = nullptr);
