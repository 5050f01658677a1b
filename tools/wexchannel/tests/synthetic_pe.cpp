#include "synthetic_pe.h"

namespace {

void Put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 16) | (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

SyntheticPe MakeSyntheticPe(const SyntheticPeOptions& options) {
  constexpr size_t kPeOffset = 0x80;
  constexpr size_t kOptionalOffset = kPeOffset + 24;
  const size_t optionalSize = options.pe32Plus ? 240 : 224;

  SyntheticPe pe;
  std::vector<uint8_t>& b = pe.bytes;
  b.assign(kOptionalOffset + optionalSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPeOffset);
  b[kPeOffset] = 'P';
  b[kPeOffset + 1] = 'E';
  Put16(b, kPeOffset + 4, options.pe32Plus ? 0x8664 : 0x14C);
  Put16(b, kPeOffset + 20, static_cast<uint16_t>(optionalSize));
  Put16(b, kPeOffset + 22, 0x0102);
  Put16(b, kOptionalOffset, options.pe32Plus ? 0x20B : 0x10B);
  Put32(b, kOptionalOffset + (options.pe32Plus ? 108 : 92), 16);  // NumberOfRvaAndSizes
  pe.checksumOffset = kOptionalOffset + 64;
  pe.securityEntryOffset = kOptionalOffset + (options.pe32Plus ? 112 : 96) + 4 * 8;
  if (options.withChecksum) Put32(b, pe.checksumOffset, 0x1234);

  for (size_t i = 0; i < options.bodySize; ++i) b.push_back(static_cast<uint8_t>(i * 7 + 3));
  if (options.certificateLengths.empty()) return pe;

  while (b.size() % 8 != 0) b.push_back(0);
  pe.certTableOffset = b.size();
  for (uint32_t length : options.certificateLengths) {
    pe.lastEntryOffset = b.size();
    b.resize(b.size() + 8, 0);
    Put32(b, pe.lastEntryOffset, length);
    Put16(b, pe.lastEntryOffset + 4, 0x0200);  // WIN_CERT_REVISION_2_0
    Put16(b, pe.lastEntryOffset + 6, 0x0002);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
    for (uint32_t i = 8; i < length; ++i) b.push_back(static_cast<uint8_t>(0x30 + i % 61));
    if (options.padEntries) {
      while ((b.size() - pe.certTableOffset) % 8 != 0) b.push_back(0);
    }
  }
  Put32(b, pe.securityEntryOffset, static_cast<uint32_t>(pe.certTableOffset));
  Put32(b, pe.securityEntryOffset + 4, static_cast<uint32_t>(b.size() - pe.certTableOffset));
  return pe;
}
