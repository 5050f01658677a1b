#include "pe_image.h"

#include <string>

#include "tool_error.h"

namespace wexchannel {

namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kSecurityDirectory = 4;
constexpr size_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType

uint64_t AlignUp8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

[[noreturn]] void NotPe(const std::string& why) { throw ToolError("not a PE image: " + why); }

}  // namespace

uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void StoreLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

PeLayout ReadPeLayout(std::span<const uint8_t> file) {
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') NotPe("no MZ header");
  const uint64_t peOffset = LoadLe32(&file[0x3C]);
  if (peOffset + 24 > file.size()) NotPe("the PE header offset points past the end of the file");
  const uint8_t* pe = &file[peOffset];
  if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) NotPe("no PE signature");

  const uint16_t optionalSize = LoadLe16(pe + 20);
  const uint64_t optionalOffset = peOffset + 24;
  if (optionalSize < 68 || optionalOffset + optionalSize > file.size()) {
    NotPe("the optional header is missing or truncated");
  }
  const uint8_t* optional = &file[optionalOffset];
  PeLayout layout;
  const uint16_t magic = LoadLe16(optional);
  if (magic == kPe32PlusMagic) {
    layout.pe32Plus = true;
  } else if (magic != kPe32Magic) {
    NotPe("unknown optional header magic " + Hex(magic));
  }
  layout.checksumOffset = optionalOffset + 64;

  const size_t countOffset = layout.pe32Plus ? 108 : 92;
  const size_t directoriesOffset = countOffset + 4;
  const size_t securityOffset = directoriesOffset + 8 * kSecurityDirectory;
  if (optionalSize >= securityOffset + 8 && LoadLe32(optional + countOffset) > kSecurityDirectory) {
    layout.securityEntryOffset = optionalOffset + securityOffset;
    layout.certTableOffset = LoadLe32(optional + securityOffset);
    layout.certTableSize = LoadLe32(optional + securityOffset + 4);
  }
  return layout;
}

CertificateTable CheckCertificateTable(std::span<const uint8_t> file, const PeLayout& layout) {
  CertificateTable table;
  table.offset = layout.certTableOffset;
  table.size = layout.certTableSize;
  const uint64_t start = table.offset;
  const uint64_t end = start + table.size;
  const std::string where = "the certificate table (" + Hex(start) + ", " + std::to_string(table.size) + " bytes)";
  if (start == 0 || table.size < kWinCertificateHeader) {
    throw ToolError(where + " named by the security directory is malformed");
  }
  if (end > file.size()) throw ToolError(where + " reaches past the end of the file");
  if (end != file.size()) {
    throw ToolError(where + " does not end the file: " + std::to_string(file.size() - end) +
                    " bytes follow it. A block can only be added inside a certificate table that "
                    "ends the file; stamp the signed original, not a copy with data appended after "
                    "its signature");
  }
  uint64_t at = start;
  for (;;) {
    if (at + kWinCertificateHeader > end) {
      throw ToolError(where + " is not made of whole WIN_CERTIFICATE entries: " +
                      std::to_string(end - at) + " bytes at " + Hex(at) + " are too few for an entry");
    }
    const uint32_t length = LoadLe32(&file[at]);
    if (length < kWinCertificateHeader || at + length > end) {
      throw ToolError(where + " is not made of whole WIN_CERTIFICATE entries: the entry at " + Hex(at) +
                      " has dwLength " + std::to_string(length) +
                      " (data placed after the signature entry without growing its dwLength, as an "
                      "older packaging step did, looks like this); stamp the signed original instead");
    }
    const uint64_t next = start + AlignUp8(at + length - start);
    if (next >= end) {
      table.lastEntryOffset = at;
      table.lastEntryLength = length;
      return table;
    }
    at = next;
  }
}

uint32_t PeChecksum(std::span<const uint8_t> file, size_t checksumOffset) {
  const size_t size = file.size();
  auto byte = [&](size_t i) -> uint32_t {
    return (i >= checksumOffset && i < checksumOffset + 4) || i >= size ? 0 : file[i];
  };
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    sum += byte(i) | (byte(i + 1) << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

}  // namespace wexchannel
