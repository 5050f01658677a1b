#include "component/component_selection.h"

#include "base/file_system.h"
#include "base/logger.h"
#include "base/settings_key.h"
#include "config/global_config.h"

const std::vector<ComponentSpec>& ComponentTable() {
  static const std::vector<ComponentSpec> kTable = {
      {7, &GlobalConfig::installMarket, L"Software\\Vorlenk\\Pardomix\\Vendrix",
       {L"Vendrix.exe", L"Quorl.dll"}},
      {1, &GlobalConfig::installUI, L"Software\\Vorlenk\\Pardomix\\UI",
       {L"corlink.exe", L"Simvarta.exe"}},
      {3, &GlobalConfig::installVDI, L"Software\\Vorlenk\\Pardomix\\VDI_0",
       {L"vasko_data_disk.vdi", L"vasko_sdcard_disk.vdi", L"vasko_system_disk.vdi"}},
      {8, &GlobalConfig::installVDI71, L"Software\\Vorlenk\\Pardomix\\VDI_100",
       {L"vasko_data_disk.vdi", L"vasko_sdcard_disk.vdi", L"vasko_system_disk.vdi"}},
      {10, &GlobalConfig::installRootfs, L"Software\\Vorlenk\\Pardomix\\Wys_Rootfs", {L"fsnode"}},
      {2, &GlobalConfig::installQuib, L"Software\\AndroidQuib", {L"Hyvorn.exe", L"QuibSVC.exe"}},
  };
  return kTable;
}

const ComponentSpec* FindComponentSpec(int32_t id) {
  for (const ComponentSpec& component : ComponentTable()) {
    if (component.id == id) return &component;
  }
  return nullptr;
}

void DetectComponentState(int32_t id, ComponentLocalInfo& info) {
  const ComponentSpec* component = FindComponentSpec(id);
  if (!component) return;
  SettingsKey key;
  if (key.TryOpen(HKEY_LOCAL_MACHINE, component->registryKey, SettingsKey::kReadWrite) != ERROR_SUCCESS) {
    return;
  }
  std::wstring installPath;
  if (key.TryReadString(L"InstallPath", installPath) != ERROR_SUCCESS) return;
  std::wstring folder = installPath;
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  for (const wchar_t* marker : component->markerFiles) {
    if (!FileExists(folder + marker)) return;
  }
  std::wstring version;
  if (key.TryReadString(L"Version", version) != ERROR_SUCCESS) return;
  info.versionText = version;
  info.installPath = installPath;
  info.installed = true;
}

void GetNeedInstallComponentLocalInfo(const GlobalConfig& config, LocalInfoMap& localInfos) {
  for (const ComponentSpec& component : ComponentTable()) {
    if (!(config.*component.wanted)) continue;
    ComponentLocalInfo& info = localInfos.try_emplace(component.id).first->second;
    DetectComponentState(component.id, info);
    LOG_INFO_AS("MainWnd", "CMainWnd::GetNeedInstallComponentLocalInfo")
        << "get component id: " << component.id
        << " installed: " << (info.installed ? "true" : "false");
    if (info.installed) {
      LOG_INFO_AS("MainWnd", "CMainWnd::GetNeedInstallComponentLocalInfo")
          << "version :" << info.versionText << " path: " << info.installPath;
    }
  }
}

bool AreAllComponentsInstalled(const LocalInfoMap& localInfos) {
  for (const auto& [id, info] : localInfos) {
    if (!info.installed) return false;
  }
  return true;
}

std::vector<ComponentItem> GetNeedInstallComponentItems(const GlobalConfig& config,
                                                        ComponentCatalogue& catalogue) {
  std::vector<ComponentItem> items;
  for (const ComponentSpec& component : ComponentTable()) {
    if (!(config.*component.wanted)) continue;
    auto channel = catalogue.ChannelItems().find(component.id);
    if (channel != catalogue.ChannelItems().end()) {
      items.push_back(channel->second);
    } else {
      items.push_back(catalogue.MutableCatalogueItems()[component.id]);
    }
    LOG_INFO_AS("Component", "CMainWnd::GetNeedInstallComponentItems")
        << "need install component: " << component.id;
  }
  return items;
}

bool IsSafeRelativePath(const std::wstring& path) {
  if (path.empty()) return true;
  if (path[0] == L'\\' || path[0] == L'/') return false;
  if (path.find(L':') != std::wstring::npos) return false;  // drives, streams
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring part = path.substr(start, end - start);
    // ".." climbs out; Windows also drops trailing dots and blanks, so "..."
    // and ".. " name the parent too.
    std::wstring trimmed = part;
    while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.pop_back();
    if (trimmed.empty() && part.find(L"..") != std::wstring::npos) return false;
    start = end + 1;
  }
  return true;
}
