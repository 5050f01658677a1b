#include "report/machine_sources.h"

#include <cpuid.h>

#include <cstdint>
#include <cstring>

namespace KrellMacID {

MacAddress MachineSources::GetMacAddress() const { return CMacFetcher().GetMacAddress(); }

std::optional<DiskIdentity> MachineSources::GetDiskIdentity() const {
  return CHddFetcher().GetDiskIdentity();
}

std::string MachineSources::GetCpuBrand() const { return ReadCpuBrand(); }

std::string ReadCpuBrand() {
  char brand[49] = {};
  uint32_t leaf = 0x80000002u;
  for (int part = 0; part < 3; ++part, ++leaf) {
    unsigned int registers[4] = {};
    __cpuid(leaf, registers[0], registers[1], registers[2], registers[3]);
    std::memcpy(brand + 16 * part, registers, sizeof registers);
  }
  return brand;  // the spare 49th byte ends a brand that fills all 48
}

}  // namespace KrellMacID
