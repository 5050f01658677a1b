// The hardware the machine id is derived from. The system answers by
// default; tests stand in with fixed answers.
#pragma once

#include <optional>
#include <string>

#include "report/hdd_fetcher.h"
#include "report/mac_fetcher.h"

namespace KrellMacID {

class MachineSources {
 public:
  virtual ~MachineSources() = default;
  // Always six bytes (CMacFetcher).
  virtual MacAddress GetMacAddress() const;
  // Nothing when no method reaches a disk (CHddFetcher).
  virtual std::optional<DiskIdentity> GetDiskIdentity() const;
  // Empty when the processor names no brand (ReadCpuBrand).
  virtual std::string GetCpuBrand() const;
};

// The processor's brand string from the extended identification leaves
// 0x80000002 to 0x80000004: at most 48 characters, up to the first zero
// byte, leading spaces kept.
std::string ReadCpuBrand();

}  // namespace KrellMacID
