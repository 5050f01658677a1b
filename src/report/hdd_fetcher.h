// The first hard disk's identity (serial number, model, firmware revision),
// one source of the machine id. Four ways of asking the disk are tried in
// turn; none needs more than the caller's rights, and none failing is normal.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace KrellMacID {

struct DiskIdentity {
  std::string serialNumber;
  std::string model;
  std::string firmwareRevision;
};

class CHddFetcher {
 public:
  // Bytes of ATA identify data.
  static constexpr size_t kIdentifyBytes = 512;
  // Bytes asked for with the storage property query.
  static constexpr size_t kDescriptorBytes = 2048;

  virtual ~CHddFetcher() = default;

  // Only on the NT family. Tries SMART identify with its version check, the
  // SCSI miniport, the storage property query and SMART identify without the
  // check, each over device numbers 0 to 15; the first success wins.
  std::optional<DiskIdentity> GetDiskIdentity() const;

  // The identity in `identify` (kIdentifyBytes): serial number words 10-19,
  // firmware revision words 23-26, model words 27-46, each word high byte
  // first; a text ends at a zero byte and loses its trailing spaces.
  static DiskIdentity IdentityFromIdentifyData(const uint8_t* identify);

  // The identity in a storage device descriptor of `size` bytes: model and
  // firmware revision as DescriptorText gives them, the serial number with
  // its pairs swapped. Nothing unless the serial number's first or twentieth
  // character is a letter or digit.
  static std::optional<DiskIdentity> IdentityFromDescriptor(const uint8_t* descriptor, size_t size);

  // The text at `offset` of a descriptor of `size` bytes; empty for offset 0
  // or one outside the descriptor. Read as hexadecimal digits (white space
  // counting as 0) when every digit pair gives a printable byte or zero, the
  // text then ending at the first zero byte; otherwise the raw characters up
  // to the first zero, or empty if a non-printable one comes first. With
  // `swapPairs` characters 1 and 2, 3 and 4, ... trade places, so an odd
  // last character is lost. Leading and trailing white space is removed.
  static std::string DescriptorText(const uint8_t* descriptor, size_t size, size_t offset,
                                    bool swapPairs);
};

}  // namespace KrellMacID
