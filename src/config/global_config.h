// The process-wide run-time settings: channel values, folders, supply id and
// language. Fields are written only while the configuration is settled at
// start-up (and installPath by the main window before a run); afterwards every
// thread reads them without locks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/language_source.h"

class GlobalConfig {
 public:
  // The machine-wide and per-user key of the installer's own settings.
  static constexpr const wchar_t* kSettingsKey = L"Software\\Vorlenk\\Pardomix";
  // The ten locale codes the skin carries texts for, in their fixed order.
  static constexpr const wchar_t* kLocaleCodes[] = {L"en", L"zh_CN", L"pt", L"ru", L"tr",
                                                     L"vi", L"id",    L"ko", L"th", L"zh_TW"};

  // The process's configuration, settled on first request from the program's
  // own file, the preferred drive and the registry. First requested on the
  // main thread before any other thread exists.
  static GlobalConfig& Instance();

  // Every field at its default; nothing read or written yet.
  GlobalConfig() = default;

  // Construction steps after the defaults, in their fixed order: drive root,
  // channel blocks of `selfPath`, download folder, install folder, supply id,
  // language; then hands the settled values to `handOff` (the telemetry
  // context). Records what it settles in the registry and logs it.
  void Settle(const std::wstring& selfPath, const std::wstring& preferredDriveRoot,
              const LanguageSource& languageSource = LanguageSource(),
              const std::function<void(const GlobalConfig&)>& handOff = {});

  // Reads the channel blocks appended to `selfPath` (the program's own
  // executable at start-up), applies them and logs the channel summary.
  // Never fails: whatever cannot be read or applied keeps its default.
  void InitParamsFromSelf(const std::wstring& selfPath);

  // The download folder: the per-user "TempPath" when it names an existing
  // folder, else driveRoot + "Temp\Grelmfetch\Component\" (created and
  // recorded). Never fails: problems are logged and the default stays.
  void InitTempPath();
  // installPath = driveRoot + "Program Files\Ludovane\".
  void InitInstallPath();
  // Records the channel's supply id machine-wide when none is recorded yet;
  // the run always uses the channel's own value.
  void InitSupplyid();
  // The stored "UserLanguage", or on a first run the language worked out from
  // the system, the package and the build kind (then stored).
  void InitLanguageSetting(const LanguageSource& languageSource = LanguageSource());

  // The first-run language from the system alone (before the package and
  // build-kind rules).
  static std::wstring DetectSystemLanguage(const LanguageSource& languageSource);
  // True when `code` is one of kLocaleCodes, ignoring case.
  static bool IsLocaleCode(const std::wstring& code);

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
