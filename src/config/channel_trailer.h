// The 40-byte trailer that ends each channel block appended to the
// executable. Portable (no platform calls): the stamping tool shares it.
//
//   offset 0  u16 LE  magic 0x0EF4
//   offset 2  u32 LE  length of the data in front of the trailer, never 0
//   offset 6  32 B    MD5 of the data as hexadecimal text (any case)
//   offset 38 0x00    ends the digest text
//   offset 39 0x01    written, never read
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct ChannelTrailer {
  static constexpr size_t kSize = 40;
  static constexpr uint16_t kMagic = 0x0EF4;

  uint16_t magic = 0;
  uint32_t length = 0;
  std::string digest;  // the 32 characters as stored

  // Parses the raw bytes; never fails (the checks are the caller's).
  static ChannelTrailer Parse(const uint8_t* bytes);
  // True when the magic is right and the length is not zero.
  bool IsPlausible() const { return magic == kMagic && length != 0; }

  // The trailer for `data`: digest in upper case, as the packaging step writes.
  static std::array<uint8_t, kSize> Build(const void* data, uint32_t length);
};
