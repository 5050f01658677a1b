// The process-wide run-time settings: channel values, folders, supply id and
// language. Fields are written only while the configuration is settled at
// start-up (and installPath by the main window before a run); afterwards every
// thread reads them without locks.
#pragma once

#include <cstdint>
#include <string>

class GlobalConfig {
 public:
  // Every field at its default; nothing read or written yet.
  GlobalConfig() = default;

  // Reads the channel blocks appended to `selfPath` (the program's own
  // executable at start-up), applies them and logs the channel summary.
  // Never fails: whatever cannot be read or applied keeps its default.
  void InitParamsFromSelf(const std::wstring& selfPath);

  int32_t international = 0;
  uint32_t supplyid = 0;
  uint64_t buildid = 0;
  std::string area;
  std::string sourceid;
  std::string pkgName;
  std::string marketExternParams;
  int32_t silentMode = 0;
  int32_t bkgPngNumber = 0;
  std::wstring title;
  std::wstring gameName;
  std::wstring language = L"zh_CN";
  std::wstring tempPath;
  std::wstring driveRoot;
  std::wstring installPath;
  bool createMarketIcon = false;
  bool installMarket = true;
  bool installUI = false;
  bool installRootfs = false;
  bool installVDI = false;
  bool installVDI71 = false;
  bool installQuib = false;
};
