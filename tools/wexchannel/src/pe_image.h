// The parts of a PE image (PE32 or PE32+) that stamping touches: the
// checksum, the security data directory and the Authenticode certificate
// table it points at. Works on the bytes of the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace wexchannel {

struct PeLayout {
  bool pe32Plus = false;
  size_t checksumOffset = 0;       // file offset of OptionalHeader.CheckSum
  size_t securityEntryOffset = 0;  // file offset of data directory 4; 0 when the header has none
  uint32_t certTableOffset = 0;    // file offset of the certificate table (the entry's "RVA")
  uint32_t certTableSize = 0;      // bytes

  // True when the security directory names a certificate table.
  bool IsSigned() const { return certTableOffset != 0 || certTableSize != 0; }
};

// Throws ToolError saying why when `file` is not a PE image.
PeLayout ReadPeLayout(std::span<const uint8_t> file);

// A certificate table that a block can be appended to.
struct CertificateTable {
  uint32_t offset = 0;
  uint32_t size = 0;
  size_t lastEntryOffset = 0;    // file offset of the last WIN_CERTIFICATE
  uint32_t lastEntryLength = 0;  // its dwLength
};

// Checks the table of a signed image: inside the file, ending it, and made of
// whole WIN_CERTIFICATE entries (each starting 8-byte aligned, the last one
// reaching the table's end but for alignment padding). Throws ToolError naming
// the first thing that is wrong.
CertificateTable CheckCertificateTable(std::span<const uint8_t> file, const PeLayout& layout);

// The PE image checksum (as imagehlp's CheckSumMappedFile computes it) with
// the 4 bytes at `checksumOffset` taken as zero.
uint32_t PeChecksum(std::span<const uint8_t> file, size_t checksumOffset);

uint16_t LoadLe16(const uint8_t* p);
uint32_t LoadLe32(const uint8_t* p);
void StoreLe32(uint8_t* p, uint32_t value);

}  // namespace wexchannel
