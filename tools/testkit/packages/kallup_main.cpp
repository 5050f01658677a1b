// The test kit's package installer "Kallup.exe". Reads "InstallPath" from its
// component's key (HKEY_LOCAL_MACHINE, the product's registry view), creates
// the component's marker files there, records the arguments it received in
// InstallPath\kallup_args.txt (one per line, nothing for none), writes
// "Version" and exits. Behaviour (JSON):
//   "component": id          required; chooses the key and the marker files
//   "version": text          default "1.0.0.0"
//   "exitCode": n            default 0
//   "markers": [names]       replaces the component's marker files
//   "registryKey": path      replaces the component's key
//   "missingPathExit": n     exit code when "InstallPath" cannot be read
//                            (default 3); nothing is written then
//   "markerSources": {name: path}  markers copied from these files instead
//                            of written (the demo installs a working
//                            "Vendrix.exe" this way)
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/module_path.h"
#include "base/settings_key.h"
#include "base/text_convert.h"
#include "behaviour_block.h"
#include "component/component_selection.h"

namespace {
constexpr int kNoBlock = 90;      // no behaviour, or an unknown component
constexpr int kWriteFailed = 91;  // a marker, the record or "Version" failed
}  // namespace

int wmain(int argc, wchar_t** argv) {
  testkit::BehaviourBlock block;
  if (!testkit::ReadBehaviourBlock(OwnExecutablePath(), block)) return kNoBlock;
  nlohmann::json behaviour = nlohmann::json::parse(block.json, nullptr, false);
  if (!behaviour.is_object()) return kNoBlock;
  const ComponentSpec* component = FindComponentSpec(behaviour.value("component", -1));
  if (!component) return kNoBlock;

  std::wstring keyPath = component->registryKey;
  if (behaviour.contains("registryKey")) keyPath = Utf8ToWide(behaviour["registryKey"].get<std::string>());
  std::vector<std::wstring> markers(component->markerFiles.begin(), component->markerFiles.end());
  if (behaviour.contains("markers")) {
    markers.clear();
    for (const auto& name : behaviour["markers"]) markers.push_back(Utf8ToWide(name.get<std::string>()));
  }

  SettingsKey key;
  std::wstring installPath;
  if (key.TryOpen(HKEY_LOCAL_MACHINE, keyPath.c_str(), SettingsKey::kReadWrite) != ERROR_SUCCESS ||
      key.TryReadString(L"InstallPath", installPath) != ERROR_SUCCESS || installPath.empty()) {
    std::fprintf(stderr, "Kallup: no InstallPath\n");
    return behaviour.value("missingPathExit", 3);
  }
  std::wstring folder = installPath;
  if (folder.back() != L'\\') folder += L'\\';
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(folder), error);

  bool ok = true;
  nlohmann::json sources = behaviour.value("markerSources", nlohmann::json::object());
  for (const std::wstring& marker : markers) {
    std::string name = WideToUtf8(marker);
    if (sources.contains(name)) {
      std::wstring source = Utf8ToWide(sources[name].get<std::string>());
      ok = ok && ::CopyFileW(source.c_str(), (folder + marker).c_str(), FALSE);
      continue;
    }
    std::ofstream out(std::filesystem::path(folder + marker), std::ios::binary | std::ios::trunc);
    out << "marker";
    ok = ok && static_cast<bool>(out);
  }
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += '\n';
    arguments += WideToUtf8(argv[i]);
  }
  std::ofstream record(std::filesystem::path(folder + L"kallup_args.txt"),
                       std::ios::binary | std::ios::trunc);
  record << arguments;
  record.close();
  ok = ok && static_cast<bool>(record);
  const std::wstring version = Utf8ToWide(behaviour.value("version", std::string("1.0.0.0")));
  ok = ok && key.TryWriteString(L"Version", version.c_str()) == ERROR_SUCCESS;
  if (!ok) return kWriteFailed;
  return behaviour.value("exitCode", 0);
}
