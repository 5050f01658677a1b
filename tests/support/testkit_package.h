// Package copies of the test kit (tools/testkit/packages) built inside a
// test, in the layout tools/testkit/make_package.py writes.
#pragma once

#include <string>

// The test kit's program `name` (e.g. L"Vendrix.exe"), built into the
// testkit folder beside the tests.
std::wstring TestkitProgramPath(const std::wstring& name);

// Writes a package to `path` whose behaviour is `description`: a JSON object
// as make_package.py takes it ({"component": 7, "exitCode": 0, "unpack":
// true, "kallup": {...}}). Fails the current test when a program is missing.
void WriteTestPackage(const std::wstring& path, const std::string& description);

// Removes `folder` with everything in it, retrying for up to five seconds: a
// test-kit child that just ended (or Wine's console host of one) can hold its
// program file or current folder for a moment.
void RemoveFolderWhenReleased(const std::wstring& folder);
