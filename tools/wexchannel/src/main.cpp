// Entry point: hands the UTF-8 arguments to RunCli.
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace {

std::string ToUtf8(const wchar_t* text) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string result(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Reports carry JSON text as UTF-8 bytes; no newline translation either.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(ToUtf8(argv[i]));
  return wexchannel::RunCli(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  return wexchannel::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
