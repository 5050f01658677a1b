#include "config/channel_block.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "base/file_hash.h"
#include "base/logger.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "config/channel_trailer.h"
#include "config/global_config.h"

namespace {

// One positioned read of exactly `length` bytes. On a short read the last
// error is ERROR_HANDLE_EOF.
bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD length) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!::ReadFile(file, buffer, length, &got, &at)) return false;
  if (got != length) {
    ::SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  return true;
}

template <typename T>
void ApplyKey(const nlohmann::json& document, const char* key, T& field) {
  if (document.contains(key)) field = document.at(key).get<T>();
}

void ApplyWideKey(const nlohmann::json& document, const char* key, std::wstring& field) {
  if (document.contains(key)) field = Utf8ToWide(document.at(key).get<std::string>());
}

}  // namespace

std::vector<nlohmann::json> ReadChannelDocuments(const std::wstring& path) {
  std::vector<nlohmann::json> documents;
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.Get(), &size)) {
    LOG_ERROR_AS("GConfig", "GlobalConfig::InitParamsFromSelf")
        << "get file size failed." << " error code: " << ::GetLastError();
    return documents;
  }
  uint64_t cursor = static_cast<uint64_t>(size.QuadPart);
  for (;;) {
    uint8_t raw[ChannelTrailer::kSize];
    if (cursor < ChannelTrailer::kSize) {
      ::SetLastError(ERROR_NEGATIVE_SEEK);
    }
    if (cursor < ChannelTrailer::kSize || !ReadAt(file.Get(), cursor - sizeof raw, raw, sizeof raw)) {
      LOG_ERROR_AS("GConfig", "GlobalConfig::InitParamsFromSelf")
          << "read extern data header failed." << " error code: " << ::GetLastError();
      break;
    }
    cursor -= sizeof raw;
    ChannelTrailer trailer = ChannelTrailer::Parse(raw);
    if (!trailer.IsPlausible()) {
      LOG_WARN_AS("GConfig", "GlobalConfig::InitParamsFromSelf") << "check magic failed or length is zero";
      break;
    }
    // A length reaching past the start of the file is refused before any
    // allocation: a forged trailer must not make us reserve gigabytes.
    if (trailer.length > cursor) {
      ::SetLastError(ERROR_NEGATIVE_SEEK);
      LOG_WARN_AS("GConfig", "GlobalConfig::InitParamsFromSelf")
          << "read extern data failed." << " error code: " << ::GetLastError();
      break;
    }
    cursor -= trailer.length;
    std::unique_ptr<char[]> data(new char[trailer.length]);
    if (!ReadAt(file.Get(), cursor, data.get(), trailer.length)) {
      LOG_WARN_AS("GConfig", "GlobalConfig::InitParamsFromSelf")
          << "read extern data failed." << " error code: " << ::GetLastError();
      break;
    }
    std::string computed = GetDataHexMd5(data.get(), trailer.length);
    if (!HexDigestEquals(computed, trailer.digest)) {
      LOG_ERROR_AS("GConfig", "GlobalConfig::InitParamsFromSelf")
          << "extern data md5 is not equal to header md5. header md5: "
          << trailer.digest << " data md5: " << computed;
      break;
    }
    std::string text(data.get(), strnlen(data.get(), trailer.length));
    try {
      documents.push_back(nlohmann::json::parse(text));
    } catch (const std::exception& e) {
      LOG_INFO_AS("GConfig", "GlobalConfig::InitParamsFromSelf")
          << "parse the inject data: " << text << " failed. exception: " << e.what();
      break;
    }
    LOG_INFO_AS("GConfig", "GlobalConfig::InitParamsFromSelf") << "find the inject data: " << text;
  }
  return documents;
}

void ApplyChannelDocument(const nlohmann::json& document, GlobalConfig& config) {
  ApplyKey(document, "buildid", config.buildid);
  ApplyKey(document, "supplyid", config.supplyid);
  ApplyKey(document, "international", config.international);
  ApplyKey(document, "pkgName", config.pkgName);
  ApplyKey(document, "area", config.area);
  ApplyKey(document, "silentMode", config.silentMode);
  ApplyKey(document, "marketExternParams", config.marketExternParams);
  ApplyKey(document, "sourceid", config.sourceid);
  ApplyKey(document, "bkgPngNumber", config.bkgPngNumber);
  ApplyKey(document, "createMarketIcon", config.createMarketIcon);
  ApplyKey(document, "installMarket", config.installMarket);
  ApplyKey(document, "installUI", config.installUI);
  ApplyKey(document, "installRootfs", config.installRootfs);
  ApplyKey(document, "installVDI", config.installVDI);
  ApplyKey(document, "installVDI71", config.installVDI71);
  ApplyKey(document, "installQuib", config.installQuib);
  if (document.is_object()) {
    ApplyWideKey(document, "gameName", config.gameName);
    ApplyWideKey(document, "title", config.title);
  }
}

void GlobalConfig::InitParamsFromSelf(const std::wstring& selfPath) {
  std::vector<nlohmann::json> documents = ReadChannelDocuments(selfPath);
  try {
    for (const nlohmann::json& document : documents) ApplyChannelDocument(document, *this);
  } catch (const std::exception& e) {
    LOG_ERROR("GConfig") << "init params from json failed. exception: " << e.what();
  }
  LOG_INFO("GConfig") << "need install pkg [" << pkgName << "]";
  LOG_INFO("GConfig") << "WexDownloader inner SupplyId [" << supplyid << "]";
  char buildText[24];
  std::snprintf(buildText, sizeof buildText, "%llu", static_cast<unsigned long long>(buildid));
  LOG_INFO("GConfig") << "WexDownloader inner buildid [" << buildText << "]";
  LOG_INFO("GConfig") << "WexDownloader inner appid [" << sourceid << "]";
  LOG_INFO("GConfig") << "Background png number: " << bkgPngNumber;
}
