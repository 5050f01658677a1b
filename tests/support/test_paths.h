// Files and folders for tests, all inside the Wine prefix's C: drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "Suite.Name_<process id>" of the running test, usable in file and key
// names ('/', '\\' and ':' become '_'); "test_<process id>" outside a test.
std::wstring UniqueTestName();

// A fresh, empty folder unique to the calling test; removed on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // Ends with a backslash.
  const std::wstring& Path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);

// The helper program built beside the tests.
std::wstring TestChildPath();

// Runs a program with a command line, waits, and returns its exit code
// (or -1 when it could not start); its standard output is captured.
struct ChildResult {
  long exitCode = -1;
  std::string output;
};
ChildResult RunChild(const std::wstring& program, const std::wstring& arguments);
