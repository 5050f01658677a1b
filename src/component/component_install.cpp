// Installs each downloaded package in catalogue order: records the install
// folder in the component's key, lets the package unpack its Setup folder
// into the download folder, and runs the Kallup.exe it brought.
#include "component/component_install.h"

#include <windows.h>

#include <filesystem>
#include <vector>

#include "base/file_system.h"
#include "base/logger.h"
#include "base/process_runner.h"
#include "base/settings_key.h"
#include "component/install_pipeline.h"
#include "component/result_codes.h"
#include "config/global_config.h"

namespace {

constexpr const wchar_t* kMakerKeyPath = L"Software\\Vorlenk";
constexpr int32_t kAppStoreId = 7;
// A package may report a successful unpack with this code as well as 0.
constexpr DWORD kPackageAlsoSuccess = 1000;
// Logged as the exit code of a program that could not be started at all.
constexpr int kNotStarted = -1;

bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the folder with its parents; a failure throws the file-system
// error, which the run's catch-all handler turns into result code 1.
void CreateFolderOrThrow(std::wstring path) {
  if (IsFolder(path)) return;
  // A trailing separator would leave create_directories an empty last part.
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  std::filesystem::create_directories(std::filesystem::path(path));
}

// Runs `program` hidden in the current folder and waits without limit.
// Returns kNotStarted when it could not be started.
int RunAndWait(const std::wstring& program, const std::wstring& parameters) {
  DWORD code = 0;
  if (!RunProgram(program, parameters, /*hidden=*/true, &code)) return kNotStarted;
  return static_cast<int>(code);
}

}  // namespace

void RepairVolatileProductKey() {
  SettingsKey product;
  DWORD disposition = 0;
  LONG result = product.TryCreate(HKEY_LOCAL_MACHINE, kProductKeyPath, &disposition);
  if (result == ERROR_SUCCESS) {
    // A key created just now under a stable parent is stable already.
    if (disposition != REG_OPENED_EXISTING_KEY) return;
    product.Close();
    SettingsKey maker;
    if (maker.TryOpen(HKEY_LOCAL_MACHINE, kMakerKeyPath, SettingsKey::kReadWrite) == ERROR_SUCCESS) {
      maker.TryDeleteTree(L"Pardomix");
    }
    return;
  }
  if (result != ERROR_CHILD_MUST_BE_VOLATILE) return;
  // The maker key itself is volatile: its whole tree goes.
  SettingsKey maker;
  if (maker.TryCreate(HKEY_LOCAL_MACHINE, kMakerKeyPath, &disposition) != ERROR_SUCCESS ||
      disposition != REG_OPENED_EXISTING_KEY) {
    return;
  }
  maker.Close();
  SettingsKey software;
  if (software.TryOpen(HKEY_LOCAL_MACHINE, L"Software", SettingsKey::kReadWrite) == ERROR_SUCCESS) {
    software.TryDeleteTree(L"Vorlenk");
  }
}

bool InstallPipeline::InstallComponent() {
  // SettingsKey::kReadWrite is exactly KEY_READ | KEY_SET_VALUE |
  // KEY_CREATE_SUB_KEY, the rights the component keys are created with.
  SettingsKey productKey;
  LONG created = productKey.TryCreate(HKEY_LOCAL_MACHINE, kProductKeyPath);
  if (created != ERROR_SUCCESS) {
    // The components are still installed; the run ends failed all the same.
    // The registry returns its error without setting the thread's last
    // error: put it there so that the line names the real cause.
    ::SetLastError(static_cast<DWORD>(created));
    LOG_ERROR_AS("Component", "CMainWnd::InstallComponent")
        << "create " << kProductKeyPath << " reg path failed. error code: "
        << ::GetLastError();
    resultCode = kResultRegAccess;
  }

  int32_t lastId = -1;
  SettingsKey componentKey;
  for (const ComponentItem& item : needInstallItems) {
    // Cancelled: leave at once; the run's own checkpoint ends it silently.
    if (Cancelled()) return false;
    Report(301, 0, item.id, 0);
    lastId = item.id;

    std::wstring installerParameters;
    if (item.id == kAppStoreId && config_.pkgName.empty() && !config_.createMarketIcon) {
      installerParameters = L"-nodesktopIcon";
    }

    componentKey.Close();
    created = componentKey.TryCreate(HKEY_LOCAL_MACHINE, item.writePathToRegKey.c_str());
    if (created == ERROR_CHILD_MUST_BE_VOLATILE) {
      // This component goes without "InstallPath" in this run; the ones after
      // it find a stable parent again.
      RepairVolatileProductKey();
    } else if (created != ERROR_SUCCESS) {
      ::SetLastError(static_cast<DWORD>(created));
      LOG_ERROR_AS("Component", "CMainWnd::InstallComponent")
          << "create " << item.writePathToRegKey
          << " reg path failed. error code: " << ::GetLastError();
      resultCode = kResultRegAccess;
      break;
    }

    const std::wstring installFolder = config_.installPath + item.localAddPath;
    componentKey.TryWriteString(L"InstallPath", installFolder.c_str());  // failure ignored
    localInfos[item.id].installPath = installFolder;
    CreateFolderOrThrow(installFolder);

    wchar_t previousFolder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previousFolder);
    ::SetCurrentDirectoryW(item.downloadDir.c_str());

    const std::wstring setupFolder = item.downloadDir + L"Setup\\";
    if (FileExists(setupFolder)) {
      std::vector<std::wstring> failedPaths;
      if (!DeleteDirectoryTree(setupFolder, failedPaths, /*deferToReboot=*/false)) {
        LOG_WARN_AS("Component", "CMainWnd::InstallComponent")
            << "delete " << setupFolder << " failed. error code: "
            << ::GetLastError();
        resultCode = kResultSetupDelete;
        break;
      }
    }

    int exitCode = RunAndWait(item.packagePath, L"");
    if (exitCode == static_cast<int>(kPackageAlsoSuccess)) exitCode = 0;
    LOG_INFO_AS("Component", "CMainWnd::InstallComponent")
        << "install component " << item.name << " Result[" << exitCode << "]";
    if (exitCode != 0) {
      resultCode = kResultPackageRun;
      break;
    }

    const std::wstring installer = setupFolder + L"Kallup.exe";
    if (!FileExists(installer)) {
      LOG_ERROR_AS("component", "CMainWnd::InstallComponent") << installer << " don't exist!";
      resultCode = kResultInvalidPackage;
      break;
    }

    exitCode = RunAndWait(installer, installerParameters);
    LOG_INFO_AS("Component", "CMainWnd::InstallComponent")
        << "install component " << item.name << " installer [Kallup] Result["
        << exitCode << "]";
    if (exitCode != 0) {
      resultCode = kResultInstallFailed;
      break;
    }

    ::SetCurrentDirectoryW(previousFolder);
    componentKey.Close();
    Report(303, 0, item.id, 0);
  }
  componentKey.Close();
  productKey.Close();

  const int code = resultCode.load();
  if (code != kResultSuccess) {
    Report(302, code, lastId, 0);
    LOG_ERROR_AS("Component", "CMainWnd::InstallComponent") << "component install failed.";
    return false;
  }
  LOG_INFO_AS("Component", "CMainWnd::InstallComponent") << "component install success";
  return true;
}
