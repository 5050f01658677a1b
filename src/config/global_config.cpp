#include "config/global_config.h"

#include <shlobj.h>

#include <cwctype>

#include "base/file_system.h"
#include "base/install_drive.h"
#include "base/logger.h"
#include "base/module_path.h"
#include "base/settings_key.h"
#include "base/winreg.h"
#include "report/data_report.h"

namespace {

constexpr const wchar_t* kTempPathValue = L"TempPath";
constexpr const wchar_t* kUserLanguageValue = L"UserLanguage";
constexpr const wchar_t* kSupplyIdValue = L"SupplyId";
constexpr const wchar_t* kKvnVersionValue = L"KVNVersion";
constexpr const char* kArenaPackage = "com.korvane.arenamobile";

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the folder with all missing parents unless it already is one.
// Logs once when that fails.
void EnsureDirectory(const std::wstring& path) {
  if (IsDirectory(path)) return;
  int result = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  if (result != ERROR_SUCCESS && result != ERROR_ALREADY_EXISTS && result != ERROR_FILE_EXISTS) {
    LOG_ERROR("GConfig") << "create directory " << path << " failed. error code: " << result;
  }
}

}  // namespace

GlobalConfig& GlobalConfig::Instance() {
  static GlobalConfig* config = [] {
    auto* settled = new GlobalConfig();
    settled->Settle(OwnExecutablePath(), PickInstallDrive(), LanguageSource(),
                    [](const GlobalConfig& c) {
                      DataReport::Instance().SetStartupValues(c.buildid, c.supplyid, c.sourceid,
                                                              c.language);
                    });
    return settled;
  }();
  return *config;
}

bool GlobalConfig::IsLocaleCode(const std::wstring& code) {
  for (const wchar_t* known : kLocaleCodes) {
    if (EqualsIgnoringCase(code, known)) return true;
  }
  return false;
}

void GlobalConfig::Settle(const std::wstring& selfPath, const std::wstring& preferredDriveRoot,
                          const LanguageSource& languageSource,
                          const std::function<void(const GlobalConfig&)>& handOff) {
  driveRoot = preferredDriveRoot;
  InitParamsFromSelf(selfPath);
  InitTempPath();
  InitInstallPath();
  InitSupplyid();
  InitLanguageSetting(languageSource);
  if (handOff) handOff(*this);
  LOG_INFO_AS("GConfig", "GlobalConfig::GlobalConfig") << "client id: 190912";
}

void GlobalConfig::InitTempPath() {
  const std::wstring defaultPath = driveRoot + L"Temp\\Grelmfetch\\Component\\";
  winreg::Key key;
  bool keyOpen = true;
  try {
    key.Create(HKEY_CURRENT_USER, kSettingsKey);
  } catch (const winreg::RegException& e) {
    // Without the key nothing can be read or recorded; the default serves.
    LOG_ERROR("GConfig") << "open " << kTempPathValue << " reg key failed. " << e.what();
    keyOpen = false;
  }
  bool useDefault = !keyOpen;
  bool write = false;
  if (keyOpen) {
    try {
      tempPath = key.GetString(kTempPathValue);
    } catch (const winreg::RegException& e) {
      LOG_WARN("GConfig") << kTempPathValue << " reg value read failed. " << e.what();
      useDefault = true;
      write = true;
    }
  }
  // A stored folder that has disappeared is replaced like a missing value.
  if (!useDefault && !IsDirectory(tempPath)) {
    useDefault = true;
    write = true;
  }
  if (useDefault) {
    tempPath = defaultPath;
    EnsureDirectory(tempPath);
  }
  if (write) {
    try {
      key.SetString(kTempPathValue, tempPath);
    } catch (const winreg::RegException& e) {
      LOG_ERROR("GConfig") << "write " << kTempPathValue << " reg value failed. " << e.what();
    }
  }
  LOG_INFO("GConfig") << "current temp path: [" << tempPath << "]";
}

void GlobalConfig::InitInstallPath() {
  installPath = driveRoot + L"Program Files\\Ludovane\\";
  LOG_INFO("GConfig") << "current install path: " << installPath;
}

void GlobalConfig::InitSupplyid() {
  SettingsKey key;
  DWORD stored = 0;
  if (key.TryOpen(HKEY_LOCAL_MACHINE, kSettingsKey, SettingsKey::kReadWrite) == ERROR_SUCCESS &&
      key.TryReadDword(kSupplyIdValue, stored) == ERROR_SUCCESS) {
    LOG_INFO("GConfig") << "read supplyid [" << stored << "] from register";
  } else if (key.TryCreate(HKEY_LOCAL_MACHINE, kSettingsKey) == ERROR_SUCCESS &&
             key.TryWriteDword(kSupplyIdValue, supplyid) == ERROR_SUCCESS) {
    LOG_INFO("GConfig") << "write supplyid " << supplyid << " to register";
  }
  LOG_INFO("GConfig") << "runtime supplyid [" << supplyid << "]";
}

std::wstring GlobalConfig::DetectSystemLanguage(const LanguageSource& languageSource) {
  {
    SettingsKey key;
    std::wstring stored;
    if (key.TryOpen(HKEY_CURRENT_USER, kSettingsKey, SettingsKey::kReadOnly) == ERROR_SUCCESS &&
        key.TryReadString(kUserLanguageValue, stored) == ERROR_SUCCESS && IsLocaleCode(stored)) {
      return stored;
    }
  }
  if (languageSource.UiLanguage() == 0x0804) return L"zh_CN";
  std::wstring language = languageSource.LocaleLanguageName();
  std::wstring country = languageSource.LocaleCountryName();
  if (!country.empty() && IsLocaleCode(language + L"_" + country)) return language + L"_" + country;
  if (language.empty()) return L"zh_CN";
  if (IsLocaleCode(language)) return language;
  return L"zh_CN";
}

void GlobalConfig::InitLanguageSetting(const LanguageSource& languageSource) {
  SettingsKey userKey;
  std::wstring stored;
  if (userKey.TryOpen(HKEY_CURRENT_USER, kSettingsKey, SettingsKey::kReadWrite) == ERROR_SUCCESS) {
    userKey.TryReadString(kUserLanguageValue, stored);
  }
  if (!stored.empty()) {
    language = stored;
  } else {
    language = DetectSystemLanguage(languageSource);
    if (EqualsIgnoringAsciiCase(pkgName, kArenaPackage)) {
      language = L"vi";
      SettingsKey machineKey;
      if (machineKey.TryOpen(HKEY_LOCAL_MACHINE, kSettingsKey, SettingsKey::kReadWrite) ==
          ERROR_SUCCESS) {
        machineKey.TryWriteDword(kKvnVersionValue, 1);
      }
    }
    if (international == 0) {
      language = L"zh_CN";
    } else if (EqualsIgnoringCase(language, L"zh_CN")) {
      language = L"en";
    }
    if (userKey.Handle() || userKey.TryCreate(HKEY_CURRENT_USER, kSettingsKey) == ERROR_SUCCESS) {
      userKey.TryWriteString(kUserLanguageValue, language.c_str());
    }
  }
  LOG_INFO("GConfig") << "current language: " << language;
}
