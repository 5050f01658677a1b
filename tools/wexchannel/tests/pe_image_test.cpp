#include "pe_image.h"

#include <gtest/gtest.h>

#include "synthetic_pe.h"
#include "tool_error.h"

using namespace wexchannel;

namespace {

std::string ErrorOf(const std::vector<uint8_t>& bytes) {
  try {
    PeLayout layout = ReadPeLayout(bytes);
    if (layout.IsSigned()) CheckCertificateTable(bytes, layout);
  } catch (const ToolError& e) {
    return e.what();
  }
  return {};
}

}  // namespace

TEST(PeImage, FindsTheSecurityDirectoryOfBothFormats) {
  for (bool pe32Plus : {false, true}) {
    SyntheticPe pe = MakeSyntheticPe({.pe32Plus = pe32Plus, .certificateLengths = {1000}});
    PeLayout layout = ReadPeLayout(pe.bytes);
    EXPECT_EQ(layout.pe32Plus, pe32Plus);
    EXPECT_EQ(layout.checksumOffset, pe.checksumOffset);
    EXPECT_EQ(layout.securityEntryOffset, pe.securityEntryOffset);
    EXPECT_EQ(layout.certTableOffset, pe.certTableOffset);
    EXPECT_EQ(layout.certTableSize, pe.bytes.size() - pe.certTableOffset);
    EXPECT_FALSE(ReadPeLayout(MakeSyntheticPe({.pe32Plus = pe32Plus}).bytes).IsSigned());
  }
}

TEST(PeImage, RefusesWhatIsNotAPeImage) {
  std::vector<uint8_t> good = MakeSyntheticPe({}).bytes;
  std::vector<uint8_t> noSignature = good;
  noSignature[0x81] = 'X';
  std::vector<uint8_t> headerPastEnd = good;
  headerPastEnd[0x3D] = 0x7F;
  std::vector<uint8_t> badMagic = good;
  badMagic[0x98] = 0x07;
  std::vector<uint8_t> truncated(good.begin(), good.begin() + 0x100);
  const std::vector<std::vector<uint8_t>> cases = {
      {}, Bytes("{\"pkgName\":\"x\"}"), Bytes("MZ"), noSignature, headerPastEnd, badMagic, truncated};
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_NE(ErrorOf(cases[i]).find("not a PE image"), std::string::npos) << "case " << i;
  }
}

TEST(PeImage, CertificateTableMustEndTheFileAndHoldWholeEntries) {
  SyntheticPe twoEntries = MakeSyntheticPe({.certificateLengths = {1000, 613}});
  CertificateTable table = CheckCertificateTable(twoEntries.bytes, ReadPeLayout(twoEntries.bytes));
  EXPECT_EQ(table.lastEntryOffset, twoEntries.lastEntryOffset);
  EXPECT_EQ(table.lastEntryLength, 613u);

  // Without padding after the entry the table may end unaligned.
  SyntheticPe unpadded = MakeSyntheticPe({.certificateLengths = {1001}, .padEntries = false});
  EXPECT_EQ(ErrorOf(unpadded.bytes), "");

  SyntheticPe trailing = MakeSyntheticPe({.certificateLengths = {1000}});
  trailing.bytes.resize(trailing.bytes.size() + 48, 0);
  EXPECT_NE(ErrorOf(trailing.bytes).find("does not end the file: 48 bytes follow it"), std::string::npos);

  // Data inside the table that its entry does not cover: the size was grown
  // but the entry's dwLength was not.
  SyntheticPe grownSizeOnly = MakeSyntheticPe({.certificateLengths = {1000}});
  grownSizeOnly.bytes.resize(grownSizeOnly.bytes.size() + 64, 'j');
  uint32_t size = ReadLe32(grownSizeOnly.bytes, grownSizeOnly.securityEntryOffset + 4) + 64;
  for (int i = 0; i < 4; ++i) grownSizeOnly.bytes[grownSizeOnly.securityEntryOffset + 4 + i] = uint8_t(size >> (8 * i));
  EXPECT_NE(ErrorOf(grownSizeOnly.bytes).find("not made of whole WIN_CERTIFICATE entries"), std::string::npos);

  SyntheticPe pastEnd = MakeSyntheticPe({.certificateLengths = {1000}});
  pastEnd.bytes.resize(pastEnd.bytes.size() - 8);
  EXPECT_NE(ErrorOf(pastEnd.bytes).find("reaches past the end of the file"), std::string::npos);
}

TEST(PeImage, ChecksumMatchesTheImagehlpAlgorithm) {
  // Worked by hand: words 0x0201 + 0x0403 + the odd last byte 0x05 (the
  // checksum's 4 bytes count as zero) = 0x0609, plus the length 9.
  std::vector<uint8_t> bytes = {0x01, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x04, 0x05};
  EXPECT_EQ(PeChecksum(bytes, 2), 0x0609u + 9u);
  // Carries fold back into the low 16 bits.
  std::vector<uint8_t> carry = {0xFF, 0xFF, 0x02, 0x00, 0, 0, 0, 0};
  EXPECT_EQ(PeChecksum(carry, 4), 0x0002u + 8u);
}
