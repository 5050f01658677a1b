// The command line of wexchannel: "stamp", "inspect", "--help", "--version".
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace wexchannel {

enum ExitCode : int {
  kExitOk = 0,
  kExitRefused = 1,   // refused input or a failed file operation; nothing written
  kExitUsage = 2,     // the command line itself is wrong
  kExitProblems = 3,  // inspect: the installer would not read or apply everything
};

// Runs one command. `args` excludes the program name and is UTF-8. Reports go
// to `out`; warnings and errors, one per line prefixed "wexchannel: ", to `err`.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text "--help" prints.
const char* HelpText();

}  // namespace wexchannel
