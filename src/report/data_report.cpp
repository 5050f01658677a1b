#include "report/data_report.h"

#include <windows.h>
#undef ReportEvent

#include <bcrypt.h>

#include "base/file_hash.h"
#include "base/logger.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "config/endpoints.h"
#include "minilib/worker_pool.h"
#include "net/http_request.h"
#include "report/krell_mac_id.h"

namespace {

constexpr int kNonceLow = 10000;
constexpr int kNonceCount = 90000;  // 10000..99999

using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);

}  // namespace

DataReport& DataReport::Instance() {
  static DataReport* report = new DataReport(KrellMacID::GetMachineGuid(), WEX_REPORT_URL);
  return *report;
}

DataReport::DataReport(std::string guid, std::string reportUrl, minilib::WorkerPool* pool)
    : reportUrl_(std::move(reportUrl)), pool_(pool) {
  ScopedModule ntdll(::LoadLibraryW(L"Ntdll.dll"));
  if (ntdll) {
    auto getVersion = reinterpret_cast<RtlGetNtVersionNumbersFn>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll.Get(), "RtlGetNtVersionNumbers")));
    if (getVersion) {
      DWORD major = 0, minor = 0, build = 0;
      getVersion(&major, &minor, &build);
      sysMajor_ = major;
      sysMinor_ = minor;
      sysBuild_ = build & 0xFFFF;  // the high half carries flag bits
    }
  }
  guid_ = std::move(guid);
}

void DataReport::SetStartupValues(uint64_t buildid, uint64_t supplyid, std::string sourceid,
                                  std::wstring language) {
  clientVersion_ = buildid;
  supplyid_ = supplyid;
  strcommon0_ = std::move(sourceid);
  language_ = std::move(language);
}

void DataReport::ReportEvent(int eventCode, int detail1, int detail2, int detail3) {
  Queue({{"ireserve1", eventCode}, {"ireserve5", detail1}, {"ireserve6", detail2},
         {"ireserve7", detail3}});
}

void DataReport::ReportClick(int button) { Queue({{"ireserve0", button}}); }

void DataReport::Queue(nlohmann::json payload) {
  minilib::WorkerPool& pool = pool_ ? *pool_ : minilib::WorkerPool::Instance();
  pool.Post(minilib::Callback::From(
      [this, payload = std::move(payload)]() mutable { ReportData(std::move(payload)); }));
}

int DataReport::DrawNonce() {
  // Rejection keeps the draw uniform over the 90000 values.
  constexpr uint32_t kLimit = 0xFFFFFFFFu - (0xFFFFFFFFu % kNonceCount);
  for (;;) {
    uint32_t value = 0;
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      throw std::runtime_error("no random source");
    }
    if (value < kLimit) return kNonceLow + static_cast<int>(value % kNonceCount);
  }
}

std::string DataReport::Sign(int nonce, const std::string& guid) {
  std::string text = std::string(kSignKey) + "|" + std::to_string(nonce) + "|" + guid;
  return GetDataHexMd5(text.data(), text.size());
}

nlohmann::json DataReport::WithCommonKeys(nlohmann::json payload, std::time_t now) const {
  payload["time_t"] = static_cast<int64_t>(now);
  payload["guid"] = guid_;
  payload["client_version"] = clientVersion_;
  payload["supplyid"] = supplyid_;
  payload["sys_major"] = sysMajor_;
  payload["sys_minor"] = sysMinor_;
  payload["sys_build"] = sysBuild_;
  payload["language"] = WideToUtf8(language_);
  payload["type"] = 2;
  payload["strcommon0"] = strcommon0_;
  payload["icommon0"] = clientVersion_;
  return payload;
}

std::string DataReport::BuildUrl(int nonce, const std::string& jsonText) const {
  return reportUrl_ + "?retflag=json&sign=" + Sign(nonce, guid_) +
         "&nonce=" + std::to_string(nonce) + "&data=" + jsonText;
}

void DataReport::ReportData(nlohmann::json payload) {
  // Nothing may escape into the worker pool: a record that cannot be built
  // or sent is lost with one log line, like a record the server refused.
  try {
    int nonce = DrawNonce();
    std::string text = WithCommonKeys(std::move(payload), std::time(nullptr)).dump();
    HttpResult answer = HttpPost(BuildUrl(nonce, text), "", "");
    if (IsHttpResultGood(answer)) return;
  } catch (const std::exception&) {
  }
  LOG_ERROR("Report") << "report data error";
}
