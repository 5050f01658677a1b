// The run's two downloads: the catalogue into a temporary file, and each
// wanted package into its download folder, reused when its digest matches.
#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/file_hash.h"
#include "base/file_system.h"
#include "base/logger.h"
#include "base/text_convert.h"
#include "component/install_pipeline.h"
#include "component/result_codes.h"
#include "config/global_config.h"
#include "net/download_file.h"
#include "net/http_request.h"

namespace {

constexpr const wchar_t* kPackageUserAgent = L"WexDownloader/1.0";

bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the folder with its parents; a failure throws the file-system
// error, which ends the run as an unexpected failure.
void CreateFolderOrThrow(const std::wstring& path) {
  if (IsFolder(path)) return;
  std::filesystem::create_directories(std::filesystem::path(path));
}

}  // namespace

std::wstring InstallPipeline::DownloadComponentXml() {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD length = ::GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp, length) + L"WexDownload\\";
  // A folder that cannot be made surfaces below as the missing temporary file.
  if (!IsFolder(folder)) ::CreateDirectoryW(folder.c_str(), nullptr);

  wchar_t file[MAX_PATH] = {};
  if (!::GetTempFileNameW(folder.c_str(), L"", 0, file)) {
    LOG_ERROR_AS("ComponentXml", "CMainWnd::DownloadComponentXml")
        << "get temp file failed. Error code: " << ::GetLastError();
    resultCode = kResultFileReadWrite;
    return {};
  }
  std::wstring path = file;

  HttpResult answer;
  bool good = false;
  for (const std::string& url : {locations_.primaryUrl, locations_.fallbackUrl}) {
    if (Cancelled()) return {};
    answer = HttpGet(url, L"utf-8");
    if (IsHttpResultGood(answer)) {
      good = true;
      break;
    }
    LOG_ERROR_AS("ComponentXml", "CMainWnd::DownloadComponentXml")
        << "download component file use " << Utf8ToWide(url)
        << " failed. http code: " << answer.statusCode
        << " error code: " << ::GetLastError();
  }
  if (!good) {
    resultCode = kResultCatalogueDownload;
    return {};
  }
  // Text mode: each line feed is stored as CR LF, as the catalogue always was.
  if (FILE* out = _wfopen(path.c_str(), L"wt")) {
    std::fwrite(answer.body.data(), 1, answer.body.size(), out);
    std::fclose(out);
  }
  LOG_INFO_AS("ComponentXml", "CMainWnd::DownloadComponentXml")
      << "download component xml success. file path: " << path;
  return path;
}

bool InstallPipeline::DownloadComponent() {
  for (ComponentItem& item : needInstallItems) {
    if (Cancelled()) return false;
    item.downloadDir = config_.tempPath + item.localAddPath + L"\\";
    CreateFolderOrThrow(item.downloadDir);
    std::wstring localPath = item.downloadDir + item.name;
    std::string expected = WideToUtf8(item.hash);

    if (FileExists(localPath)) {
      if (HexDigestEquals(GetFileHexMd5(localPath), expected)) {
        LOG_INFO_AS("Component", "CMainWnd::DownloadComponent")
            << item.name << " is existed. path: " << localPath;
        item.packagePath = localPath;
        continue;
      }
      ::DeleteFileW(localPath.c_str());
    }

    PostProgress(0);  // each downloaded package's progress starts at zero
    Report(201, 0, item.id, 0);
    LOG_INFO_AS("Component", "CMainWnd::DownloadComponent")
        << "start download component name: " << item.name << " url:["
        << item.url << "] localPath:[" << localPath << "]";
    DownloadResult result = DownloadFile(
        item.url, localPath, [this](int percent, int) { PostProgress(percent); }, kPackageUserAgent,
        &cancelled_);
    if (Cancelled()) return false;
    if (!result.ok) {
      LOG_ERROR_AS("Component", "CMainWnd::DownloadComponent")
          << "download component: " << item.name
          << " failed. error type: " << result.errorType
          << " error code: " << result.errorCode;
      resultCode = result.errorType;
      Report(202, result.errorType, item.id, result.errorCode);
      return false;
    }
    Report(203, 0, item.id, 0);
    LOG_INFO_AS("Component", "CMainWnd::DownloadComponent")
        << "download component name:" << item.name << " success localPath:["
        << localPath << "]";
    std::string digest = GetFileHexMd5(localPath);
    LOG_INFO_AS("Component", "CMainWnd::DownloadComponent")
        << "local component file " << item.name << " md5: " << digest;
    if (!HexDigestEquals(digest, expected)) {
      LOG_ERROR_AS("Component", "CMainWnd::DownloadComponent")
          << "local component file md5 check failed. local md5: " << digest
          << " server md5: " << item.hash;
      resultCode = kResultMd5Mismatch;
      Report(202, kResultMd5Mismatch, item.id, result.errorCode);
      return false;
    }
    item.packagePath = localPath;
  }
  PostObserverCall(&InstallObserver::SetProgressComplete);
  return true;
}
