#include "support/test_paths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/file_system.h"
#include "base/module_path.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"

std::wstring UniqueTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::wstring name = info ? Utf8ToWide(std::string(info->test_suite_name()) + "." + info->name())
                           : L"test";
  for (wchar_t& c : name) {
    if (c == L'/' || c == L'\\' || c == L':') c = L'_';
  }
  return name + L"_" + std::to_wstring(::GetCurrentProcessId());
}

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  path_ = L"C:\\wex\\scratch\\" + UniqueTestName() + L"_" + std::to_wstring(counter++) + L"\\";
  ::CreateDirectoryW(L"C:\\wex\\scratch", nullptr);
  std::vector<std::wstring> failed;
  DeleteDirectoryTree(path_, failed, false);
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  std::vector<std::wstring> failed;
  DeleteDirectoryTree(path_, failed, false);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << WideToUtf8(path);
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::wstring TestChildPath() { return OwnExecutableFolder() + L"wex_test_child.exe"; }

ChildResult RunChild(const std::wstring& program, const std::wstring& arguments) {
  ChildResult result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr;
  if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return result;
  ScopedHandle readEnd(readRaw), writeEnd(writeRaw);
  ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.Get();
  startup.hStdError = writeEnd.Get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
    return result;
  }
  ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
  writeEnd.Reset();
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(readEnd.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.output.append(buffer, got);
  }
  ::WaitForSingleObject(processHandle.Get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(processHandle.Get(), &code);
  result.exitCode = static_cast<long>(code);
  return result;
}
