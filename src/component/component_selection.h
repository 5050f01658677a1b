// Which platform components a channel wants, whether they are present on the
// machine, and the records a run installs, in the fixed installation order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "component/component_catalogue.h"
#include "component/component_item.h"

class GlobalConfig;

struct ComponentLocalInfo {
  std::wstring versionText;  // "Version" of the component's key
  std::wstring installPath;  // "InstallPath"; the install step records its own
  bool installed = false;
};

using LocalInfoMap = std::map<int32_t, ComponentLocalInfo>;

// One row of the fixed component table.
struct ComponentSpec {
  int32_t id;
  bool GlobalConfig::*wanted;
  const wchar_t* registryKey;  // under HKEY_LOCAL_MACHINE
  std::vector<const wchar_t*> markerFiles;
};

// The six components in installation order: 7, 1, 3, 8, 10, 2.
const std::vector<ComponentSpec>& ComponentTable();
// The row for `id`, or null.
const ComponentSpec* FindComponentSpec(int32_t id);

// Registry and marker files of one component. Never fails: anything missing
// leaves the component not installed.
void DetectComponentState(int32_t id, ComponentLocalInfo& info);

// Fills `localInfos` for every wanted component in table order (existing
// entries stay) and logs each result (module "MainWnd").
void GetNeedInstallComponentLocalInfo(const GlobalConfig& config, LocalInfoMap& localInfos);

// True when every entry is installed, and for an empty map.
bool AreAllComponentsInstalled(const LocalInfoMap& localInfos);

// The records to install, in table order: the channel record when there is
// one, else the general record, else a default record (id -1) inserted into
// the general map. Logs "need install component: " per id.
std::vector<ComponentItem> GetNeedInstallComponentItems(const GlobalConfig& config,
                                                        ComponentCatalogue& catalogue);

// True when `path` is empty or a relative path that stays below the folder it
// is appended to: no drive, no root, no "..", no stream or device syntax.
bool IsSafeRelativePath(const std::wstring& path);
