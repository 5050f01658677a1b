// A component package of the test kit. Started in a folder (its current
// folder), it unpacks "Setup\Kallup.exe" there and exits with the code its
// behaviour block names. Behaviour (JSON, all optional):
//   "component": id       only named in messages
//   "exitCode": n         default 0 (1000 also means success to the installer)
//   "unpack": bool        default true; false unpacks nothing at all
// The payload is the Kallup.exe copy to unpack, with its own block.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "base/module_path.h"
#include "behaviour_block.h"

namespace {
constexpr int kNoBlock = 90;       // the copy carries no behaviour
constexpr int kWriteFailed = 91;   // Setup\Kallup.exe could not be written
}  // namespace

int wmain() {
  testkit::BehaviourBlock block;
  if (!testkit::ReadBehaviourBlock(OwnExecutablePath(), block)) {
    std::fprintf(stderr, "package: no behaviour block\n");
    return kNoBlock;
  }
  nlohmann::json behaviour = nlohmann::json::parse(block.json, nullptr, false);
  if (!behaviour.is_object()) return kNoBlock;
  const int exitCode = behaviour.value("exitCode", 0);
  if (behaviour.value("unpack", true)) {
    ::CreateDirectoryW(L"Setup", nullptr);
    std::ofstream out(std::filesystem::path(L"Setup\\Kallup.exe"), std::ios::binary | std::ios::trunc);
    out.write(block.payload.data(), static_cast<std::streamsize>(block.payload.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "package %d: cannot write Setup\\Kallup.exe\n",
                   behaviour.value("component", -1));
      return kWriteFailed;
    }
  }
  return exitCode;
}
