// Small PE images built in memory for layout tests: headers only, a body of
// filler bytes, and optionally a certificate table with fake signature
// entries. The offsets of interest are fixed by construction, so tests read
// them back without going through the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SyntheticPeOptions {
  bool pe32Plus = false;
  bool withChecksum = false;  // a nonzero CheckSum field
  // One WIN_CERTIFICATE per entry, each with this dwLength (header included);
  // empty for an unsigned image.
  std::vector<uint32_t> certificateLengths;
  // Zero bytes after each entry up to 8-byte alignment (the usual layout).
  bool padEntries = true;
  size_t bodySize = 0x300;
};

struct SyntheticPe {
  std::vector<uint8_t> bytes;
  size_t checksumOffset = 0;
  size_t securityEntryOffset = 0;
  size_t certTableOffset = 0;     // 0 when unsigned
  size_t lastEntryOffset = 0;     // the last WIN_CERTIFICATE
};

SyntheticPe MakeSyntheticPe(const SyntheticPeOptions& options);

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset);
std::vector<uint8_t> Bytes(const std::string& text);
