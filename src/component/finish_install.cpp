#include "component/finish_install.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <system_error>

#include "base/file_system.h"
#include "base/logger.h"
#include "base/process_runner.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "config/global_config.h"

namespace {

constexpr int32_t kAppStoreId = 7;
constexpr WORD kGameIconResourceId = 134;

// COM for the calling thread while the object lives. Nothing in the program
// initialises COM on the user-interface thread, and a shell link cannot be
// made without it; a thread that already has COM (in either model) keeps it
// as it was, and every successful initialisation here is balanced.
class ScopedComInit {
 public:
  ScopedComInit()
      : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ScopedComInit() {
    // S_FALSE (already initialised in this model) must be balanced too;
    // RPC_E_CHANGED_MODE (another model) must not.
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ScopedComInit(const ScopedComInit&) = delete;
  ScopedComInit& operator=(const ScopedComInit&) = delete;

 private:
  HRESULT result_;
};

bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring BuildVendrixCommandLine(const VendrixLaunchParams& params) {
  std::string line;
  if (!params.pkgName.empty() && !params.displayName.empty()) {
    line += " -pkg " + params.pkgName + " -apksupplyid " + std::to_string(params.supplyId) +
            " -displayname " + params.displayName;
  }
  line += " " + params.externParams;
  return AnsiToWide(line);
}

bool WriteIconResource(HMODULE module, const std::wstring& path) {
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(kGameIconResourceId), L"CUSTOM");
  if (!resource) return false;
  DWORD size = ::SizeofResource(module, resource);
  if (size == 0) return false;
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (!loaded) return false;
  const void* bytes = ::LockResource(loaded);
  if (!bytes) return false;
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_ALL, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size;
}

std::wstring PrepareGameIcon(const std::wstring& appStoreFolder, const std::string& pkgName,
                             HMODULE module) {
  const std::wstring folder = appStoreFolder + L"\\Icons\\" + Utf8ToWide(pkgName);
  if (!IsFolder(folder)) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder), error);
    if (!IsFolder(folder)) return {};
  }
  const std::wstring file = folder + L"\\Game.Ico";
  return WriteIconResource(module, file) ? file : std::wstring();
}

HRESULT CreateDesktopShortcut(const std::wstring& target, const std::wstring& fileName,
                              const wchar_t* arguments, const std::wstring& description,
                              const wchar_t* iconPath) {
  wchar_t desktop[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, TRUE)) return E_FAIL;
  const std::wstring linkPath = std::wstring(desktop) + L"\\" + fileName;
  if (FileExists(linkPath)) ::DeleteFileW(linkPath.c_str());

  ScopedComInit com;
  ScopedComPtr<IShellLinkW> link;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.ReceiveVoid());
  if (FAILED(hr)) return hr;
  link->SetPath(target.c_str());
  link->SetDescription(description.c_str());
  if (arguments) link->SetArguments(arguments);
  if (iconPath) link->SetIconLocation(iconPath, 0);

  ScopedComPtr<IPersistFile> file;
  hr = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
  if (FAILED(hr)) return hr;
  return file->Save(linkPath.c_str(), TRUE);
}

void CreateGameShortcut(const std::wstring& pkgName, const std::wstring& gameName,
                        const std::wstring& externParams, const std::wstring& iconPath) {
  ComponentLocalInfo appStore;
  DetectComponentState(kAppStoreId, appStore);
  const std::wstring target = appStore.installPath + L"\\Vendrix.exe";
  const std::wstring arguments =
      L" -startpkg " + pkgName + L" " + externParams + L" -from DesktopLink";
  CreateDesktopShortcut(target, gameName + L".lnk", arguments.c_str(), gameName, iconPath.c_str());
}

void CreateVendrixShortcut(const std::wstring& appStoreProgram, bool international) {
  const std::wstring name = international ? L"Fenwyx" : L"Ruvenna";
  CreateDesktopShortcut(appStoreProgram, name + L".lnk", nullptr, name, nullptr);
}

void RunFinishSteps(const GlobalConfig& config, LocalInfoMap& localInfos, bool createIconOption,
                    HMODULE module) {
  VendrixLaunchParams params;
  params.supplyId = config.supplyid;
  params.pkgName = config.pkgName;
  params.displayName = WideToAnsi(config.gameName);
  params.externParams = config.marketExternParams;
  const std::wstring commandLine = BuildVendrixCommandLine(params);

  const std::wstring appStoreFolder = localInfos[kAppStoreId].installPath;
  const std::wstring appStoreProgram = appStoreFolder + L"\\Vendrix.exe";
  RunProgram(appStoreProgram, commandLine, /*hidden=*/false);  // outcome ignored
  LOG_INFO_AS("Window", "CMainWnd::FinishInstall") << "start vendrix in command line: " << commandLine;

  if (!createIconOption) return;
  if (!config.pkgName.empty()) {
    const std::wstring iconPath = PrepareGameIcon(appStoreFolder, config.pkgName, module);
    CreateGameShortcut(Utf8ToWide(config.pkgName), config.gameName,
                       Utf8ToWide(config.marketExternParams), iconPath);
  } else {
    CreateVendrixShortcut(appStoreProgram, config.international == 1);
  }
}
