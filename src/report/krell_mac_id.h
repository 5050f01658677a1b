// The machine id every telemetry report carries: 16 bytes derived from the
// MAC address, the first disk's identity and, for some old profiles, the
// processor brand, hashed with MD5 and recorded in the profile file so that
// it survives the exchange of a network card or a disk.
//
// The id is derived once per running executable: a 20-byte block in a shared
// data section (".wexmid") is seen by every process of the same executable
// file, and the first process to ask derives the id while the others wait.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "report/machine_profile.h"
#include "report/machine_sources.h"

namespace KrellMacID {

// The id as 32 lowercase hexadecimal characters. Never fails: missing
// hardware and an unusable profile file only change what the id is made of.
std::string GetMachineGuid();

class CSeqIDGenerator {
 public:
  virtual ~CSeqIDGenerator() = default;

  // Reuses the id recorded in the profile file when the sources still match
  // it, otherwise derives it from the sources and records it (if the file
  // could be opened). `appDataFolder` as in ProfileFile::Open.
  static MachineId GenerateMachineId(const MachineSources& sources,
                                     const std::string& appDataFolder = {});
};

// The shared block: the id, then the state word, which is the only lock.
inline constexpr LONG kIdNotDerived = 0;
inline constexpr LONG kIdReady = 1;
inline constexpr LONG kIdDeriving = 255;

struct IdBlock {
  uint8_t id[16];
  volatile LONG state;
};
static_assert(sizeof(IdBlock) == 20);

// The block in the executable's shared section.
IdBlock& SharedIdBlock();

// How long a process waits for another one to finish deriving. A deriving
// process that died leaves the state word at kIdDeriving; after this wait
// the waiter derives the id itself and publishes it.
inline constexpr DWORD kDeriverWaitMs = 10000;

// GetMachineGuid on `block`: the caller that moves the state word from
// kIdNotDerived to kIdDeriving runs `derive`, stores the id and sets
// kIdReady; others poll, yielding between looks, and copy the stored id.
std::string GetMachineGuid(IdBlock& block, const std::function<MachineId()>& derive,
                           DWORD waitLimitMs = kDeriverWaitMs);

}  // namespace KrellMacID
