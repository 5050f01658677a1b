#include "base/process_runner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_paths.h"

namespace {

TEST(RunProgramTest, HiddenRunYieldsExitCode) {
  DWORD exitCode = 0;
  EXPECT_TRUE(RunProgram(TestChildPath(), L"exit 1000", true, &exitCode));
  EXPECT_EQ(exitCode, 1000u);
}

// With an exit-code destination the call returns only once the program ended.
TEST(RunProgramTest, WaitsForProgramToEnd) {
  DWORD exitCode = 0;
  ULONGLONG start = ::GetTickCount64();
  EXPECT_TRUE(RunProgram(TestChildPath(), L"sleep 700 7", true, &exitCode));
  EXPECT_GE(::GetTickCount64() - start, 650u);
  EXPECT_EQ(exitCode, 7u);
}

TEST(RunProgramTest, MissingProgramIsFalseAndLeavesExitCode) {
  const std::wstring kMissing[] = {L"C:\\wex\\no-such-folder\\missing.exe",
                                   TestChildPath() + L".missing.exe"};
  for (const std::wstring& program : kMissing) {
    DWORD exitCode = 4242;
    EXPECT_FALSE(RunProgram(program, L"exit 3", true, &exitCode));
    EXPECT_EQ(exitCode, 4242u);
  }
}

// Without an exit-code destination the call returns once the program started,
// shown or hidden: long before the child's 6 s are over, even on a busy machine.
TEST(RunProgramTest, WithoutExitCodeReturnsOnceStarted) {
  for (bool hidden : {true, false}) {
    ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(RunProgram(TestChildPath(), L"sleep 6000 0", hidden));
    EXPECT_LT(::GetTickCount64() - start, 5000u) << "hidden " << hidden;
  }
}

}  // namespace
