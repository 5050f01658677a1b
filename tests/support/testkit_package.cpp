#include "support/testkit_package.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include <nlohmann/json.hpp>

#include "base/file_system.h"
#include "base/module_path.h"
#include "base/text_convert.h"
#include "behaviour_block.h"
#include "support/test_paths.h"

std::wstring TestkitProgramPath(const std::wstring& name) {
  return OwnExecutableFolder() + L"testkit\\" + name;
}

void WriteTestPackage(const std::wstring& path, const std::string& description) {
  nlohmann::json package = nlohmann::json::parse(description);
  ASSERT_TRUE(package.contains("component")) << description;
  nlohmann::json kallup = package.value("kallup", nlohmann::json::object());
  package.erase("kallup");
  if (!kallup.contains("component")) kallup["component"] = package["component"];

  const std::string program = ReadFileBytes(TestkitProgramPath(L"wex_package.exe"));
  const std::string installer = ReadFileBytes(TestkitProgramPath(L"Kallup.exe"));
  ASSERT_FALSE(program.empty()) << "test kit package program missing";
  ASSERT_FALSE(installer.empty()) << "test kit Kallup.exe missing";
  const std::string kallupCopy = installer + testkit::EncodeBehaviourBlock(kallup.dump(), "");
  WriteFileBytes(path, program + testkit::EncodeBehaviourBlock(package.dump(), kallupCopy));
}

void RemoveFolderWhenReleased(const std::wstring& folder) {
  for (int attempt = 0; attempt < 100 && FileExists(folder); ++attempt) {
    std::vector<std::wstring> failed;
    DeleteDirectoryTree(folder, failed, false);
    if (FileExists(folder)) ::Sleep(50);
  }
}
