// Signed telemetry records: one per milestone of a run and per click on the
// main buttons. Builders return at once; each record is sent from the worker
// pool, and a failed send is only logged.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "component/install_observer.h"

namespace minilib {
class WorkerPool;
}

class DataReport : public EventReporter {
 public:
  // The signing key shared with the report server.
  static constexpr const char* kSignKey = "kqz!serverAudit_482%&*~";

  // The process's reporter: the machine id of this machine, this build's
  // report server, the process's worker pool. Created on first use.
  static DataReport& Instance();

  // A reporter posting to `reportUrl` (the full address of the report
  // script) through `pool`; `guid` is the machine id.
  DataReport(std::string guid, std::string reportUrl, minilib::WorkerPool* pool = nullptr);

  // The start-up values, written once by the configuration before any record.
  void SetStartupValues(uint64_t buildid, uint64_t supplyid, std::string sourceid,
                        std::wstring language);

  // Queues {"ireserve1": code, "ireserve5": d1, "ireserve6": d2, "ireserve7": d3}.
  void ReportEvent(int eventCode, int detail1, int detail2, int detail3) override;
  // Queues {"ireserve0": button}.
  void ReportClick(int button);
  // Signs and sends one record (worker thread). Any failure, a thrown one
  // included, ends in one Error line "report data error".
  void ReportData(nlohmann::json payload);

  // The parts of a record, for checking them one by one.
  static std::string Sign(int nonce, const std::string& guid);
  // 10000..99999 from the system's cryptographic random source.
  static int DrawNonce();
  nlohmann::json WithCommonKeys(nlohmann::json payload, std::time_t now) const;
  std::string BuildUrl(int nonce, const std::string& jsonText) const;

  const std::string& Guid() const { return guid_; }
  uint32_t SysMajor() const { return sysMajor_; }
  uint32_t SysMinor() const { return sysMinor_; }
  uint32_t SysBuild() const { return sysBuild_; }

 private:
  void Queue(nlohmann::json payload);

  uint64_t clientVersion_ = 0;
  uint64_t supplyid_ = 0;
  std::string guid_;
  std::string strcommon0_;
  std::wstring language_;
  uint32_t sysMajor_ = 0;
  uint32_t sysMinor_ = 0;
  uint32_t sysBuild_ = 0;
  const std::string reportUrl_;
  minilib::WorkerPool* pool_;  // null: the process's pool
};
