#include "stamper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/md5.h"
#include "block_chain.h"
#include "effective_config.h"
#include "pe_image.h"
#include "synthetic_pe.h"
#include "tool_error.h"

using namespace wexchannel;
using nlohmann::ordered_json;

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Checks one block at [dataOffset, dataOffset + dataLength + 40) holds
// `json`, its zero byte, zero padding and the trailer over all of it.
void ExpectBlock(const std::vector<uint8_t>& image, size_t dataOffset, uint32_t dataLength,
                 const std::string& json) {
  ASSERT_LE(dataOffset + dataLength + 40, image.size());
  const uint8_t* data = &image[dataOffset];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), json.size()), json);
  for (size_t i = json.size(); i < dataLength; ++i) EXPECT_EQ(data[i], 0) << "byte " << i << " after the text";
  const uint8_t* trailer = data + dataLength;
  EXPECT_EQ(trailer[0], 0xF4);
  EXPECT_EQ(trailer[1], 0x0E);
  EXPECT_EQ(ReadLe32(image, dataOffset + dataLength + 2), dataLength);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(trailer + 6), 32), Upper(Md5::HexOf(data, dataLength)));
  EXPECT_EQ(trailer[38], 0x00);
  EXPECT_EQ(trailer[39], 0x01);
}

std::string RefusalOf(const std::vector<uint8_t>& input, const ordered_json& document) {
  try {
    StampChannel(input, document);
  } catch (const ToolError& e) {
    return e.what();
  }
  return {};
}

}  // namespace

TEST(Stamp, UnsignedImageGetsTextZeroAndTrailerAtItsEnd) {
  for (bool pe32Plus : {false, true}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    SyntheticPe pe = MakeSyntheticPe({.pe32Plus = pe32Plus});
    ordered_json document = {{"supplyid", 200205540}, {"pkgName", "com.korvane.arena"}, {"buildid", 319}};
    StampResult result = StampChannel(pe.bytes, document);

    const std::string json = R"({"supplyid":200205540,"pkgName":"com.korvane.arena","buildid":319})";
    EXPECT_EQ(result.jsonText, json) << "compact, keys in the given order";
    EXPECT_FALSE(result.insideCertificateTable);
    EXPECT_EQ(result.padding, 0u);
    ASSERT_EQ(result.image.size(), pe.bytes.size() + json.size() + 1 + 40);
    EXPECT_TRUE(std::equal(pe.bytes.begin(), pe.bytes.end(), result.image.begin()));
    EXPECT_EQ(result.dataOffset, pe.bytes.size());
    EXPECT_EQ(result.dataLength, json.size() + 1);
    ExpectBlock(result.image, pe.bytes.size(), result.dataLength, json);
    EXPECT_EQ(ReadLe32(result.image, pe.securityEntryOffset + 4), 0u) << "an unsigned image stays unsigned";
  }
}

struct SignedCase {
  bool pe32Plus;
  std::vector<uint32_t> certificateLengths;
  bool padEntries;
};

// Also names the instances.
void PrintTo(const SignedCase& c, std::ostream* out) {
  *out << (c.pe32Plus ? "Pe32Plus" : "Pe32");
  for (uint32_t length : c.certificateLengths) *out << "_" << length;
  *out << (c.padEntries ? "_Padded" : "_Unpadded");
}

class StampSigned : public ::testing::TestWithParam<SignedCase> {};

TEST_P(StampSigned, TableSizeAndLastEntryGrowByEachBlockAndStayAligned) {
  const SignedCase& param = GetParam();
  SyntheticPe pe = MakeSyntheticPe(
      {.pe32Plus = param.pe32Plus, .certificateLengths = param.certificateLengths, .padEntries = param.padEntries});
  const uint32_t tableSize = ReadLe32(pe.bytes, pe.securityEntryOffset + 4);
  const uint32_t entryLength = ReadLe32(pe.bytes, pe.lastEntryOffset);

  const std::vector<ordered_json> documents = {{{"pkgName", "first"}, {"supplyid", 7}},
                                               {{"buildid", 12345}, {"title", "Second stamp, longer text"}}};
  std::vector<uint8_t> image = pe.bytes;
  uint32_t grown = 0;
  for (size_t round = 0; round < documents.size(); ++round) {
    SCOPED_TRACE("stamp " + std::to_string(round + 1));
    const size_t before = image.size();
    StampResult result = StampChannel(image, documents[round]);
    ASSERT_TRUE(result.insideCertificateTable);
    const uint32_t blockSize = result.dataLength + 40;
    grown += blockSize;
    EXPECT_EQ(result.dataOffset, before) << "the table ends the file, so the block follows the file's last byte";
    EXPECT_EQ(result.image.size(), before + blockSize);
    EXPECT_EQ(result.dataLength, result.jsonText.size() + 1 + result.padding);
    EXPECT_LT(result.padding, 8u);
    ExpectBlock(result.image, before, result.dataLength, result.jsonText);

    EXPECT_EQ(ReadLe32(result.image, pe.securityEntryOffset), pe.certTableOffset);
    EXPECT_EQ(ReadLe32(result.image, pe.securityEntryOffset + 4), tableSize + grown);
    EXPECT_EQ(ReadLe32(result.image, pe.lastEntryOffset), entryLength + grown);
    EXPECT_EQ(pe.certTableOffset + tableSize + grown, result.image.size()) << "the table still ends the file";
    EXPECT_EQ((tableSize + grown) % 8, 0u) << "the table stays a multiple of 8 bytes";
    if (tableSize % 8 == 0) {
      EXPECT_EQ(blockSize % 8, 0u);
    }
    // Every byte before the block is the input's but the two grown fields.
    for (size_t i = 0; i < before; ++i) {
      const bool field = (i >= pe.securityEntryOffset + 4 && i < pe.securityEntryOffset + 8) ||
                         (i >= pe.lastEntryOffset && i < pe.lastEntryOffset + 4);
      if (!field && image[i] != result.image[i]) ADD_FAILURE() << "byte " << i << " changed";
    }
    image = result.image;
  }
  BlockChain chain = WalkChannelBlocks(image);
  ASSERT_EQ(chain.blocks.size(), 2u);
  EXPECT_EQ(chain.installerReads, 2u);
  EXPECT_EQ(chain.blocks[0].text, documents[1].dump());
  EXPECT_EQ(chain.blocks[1].text, documents[0].dump());
  EXPECT_EQ(chain.endOffset, pe.bytes.size()) << "the walk ends at the signature";
}

INSTANTIATE_TEST_SUITE_P(Layouts, StampSigned,
                         ::testing::Values(SignedCase{false, {1000}, true}, SignedCase{true, {1000}, true},
                                           SignedCase{false, {1003}, true}, SignedCase{true, {1001}, false},
                                           SignedCase{false, {600, 1005}, true}),
                         [](const ::testing::TestParamInfo<SignedCase>& info) {
                           std::ostringstream name;
                           PrintTo(info.param, &name);
                           return name.str();
                         });

TEST(Stamp, KeepsAnExistingChecksumRight) {
  SyntheticPe withChecksum = MakeSyntheticPe({.withChecksum = true, .certificateLengths = {1000}});
  StampResult result = StampChannel(withChecksum.bytes, {{"pkgName", "x"}});
  const uint32_t checksum = ReadLe32(result.image, withChecksum.checksumOffset);
  EXPECT_NE(checksum, 0x1234u);
  EXPECT_EQ(checksum, PeChecksum(result.image, withChecksum.checksumOffset));

  SyntheticPe without = MakeSyntheticPe({});
  EXPECT_EQ(ReadLe32(StampChannel(without.bytes, {{"pkgName", "x"}}).image, without.checksumOffset), 0u);
}

TEST(Stamp, RefusesDocumentsTheInstallerWouldMisread) {
  const std::vector<uint8_t> input = MakeSyntheticPe({}).bytes;
  struct Case {
    const char* json;
    const char* expected;  // part of the refusal
  };
  const Case cases[] = {
      {R"([{"pkgName":"x"}])", "must be a JSON object, but is array"},
      {R"("pkgName")", "must be a JSON object, but is string"},
      {R"(null)", "must be a JSON object, but is null"},
      {R"({"supplyid":"200205540"})", R"(key "supplyid" must be a number, but is string)"},
      {R"({"buildid":true})", R"(key "buildid" must be a number, but is boolean)"},
      {R"({"bkgPngNumber":null})", R"(key "bkgPngNumber" must be a number, but is null)"},
      {R"({"pkgName":5})", R"(key "pkgName" must be a string, but is number)"},
      {R"({"title":["a"]})", R"(key "title" must be a string, but is array)"},
      {R"({"createMarketIcon":1})", R"(key "createMarketIcon" must be a boolean, but is number)"},
      {R"({"installVDI71":"true"})", R"(key "installVDI71" must be a boolean, but is string)"},
      {R"({"silentMode":2})", R"(key "silentMode" must be 0 or 1, but is 2)"},
      {R"({"silentMode":-1})", R"(key "silentMode" must be 0 or 1)"},
      {R"({"silentMode":0.5})", R"(key "silentMode" value 0.5 is not a whole number)"},
      {R"({"supplyid":-1})", R"(key "supplyid" value -1 is out of range)"},
      {R"({"supplyid":4294967296})", R"(key "supplyid" value 4294967296 is out of range)"},
      {R"({"international":2147483648})", R"(key "international" value 2147483648 is out of range)"},
      {R"({"buildid":1.8446744073709552e19})", R"(key "buildid" value 1.8446744073709552e+19 is out of range)"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(RefusalOf(input, ordered_json::parse(c.json)).find(c.expected), std::string::npos)
        << c.json << " gave: " << RefusalOf(input, ordered_json::parse(c.json));
  }
  // Every wrong key is named, not only the first.
  std::string both = RefusalOf(input, ordered_json::parse(R"({"pkgName":1,"supplyid":"x"})"));
  EXPECT_NE(both.find("\"pkgName\""), std::string::npos);
  EXPECT_NE(both.find("\"supplyid\""), std::string::npos);

  const char* accepted[] = {R"({"silentMode":0})", R"({"silentMode":1})", R"({"silentMode":1.0})",
                            R"({"supplyid":4294967295})", R"({"buildid":18446744073709551615})",
                            R"({"international":-2147483648})", R"({"bkgPngNumber":3})"};
  for (const char* json : accepted) EXPECT_EQ(RefusalOf(input, ordered_json::parse(json)), "") << json;
}

TEST(Stamp, RefusesImagesItCannotStamp) {
  const ordered_json document = {{"pkgName", "x"}};
  EXPECT_NE(RefusalOf(Bytes("plain text, not a program"), document).find("not a PE image"), std::string::npos);

  SyntheticPe appendedAfterSignature = MakeSyntheticPe({.certificateLengths = {1000}});
  appendedAfterSignature.bytes.insert(appendedAfterSignature.bytes.end(), 100, 0xEE);
  EXPECT_NE(RefusalOf(appendedAfterSignature.bytes, document).find("does not end the file"), std::string::npos);
}

TEST(Stamp, WarnsAboutKeysTheInstallerIgnores) {
  StampResult result = StampChannel(MakeSyntheticPe({}).bytes, {{"pkgName", "x"}, {"colour", "red"}});
  ASSERT_EQ(result.warnings.size(), 1u);
  EXPECT_NE(result.warnings[0].find("unknown key \"colour\""), std::string::npos);
  EXPECT_EQ(result.jsonText, R"({"pkgName":"x","colour":"red"})") << "the key is still written";
}

TEST(Stamp, ChainedBlockWarnsForEachKeyAnOlderBlockShadows) {
  SyntheticPe pe = MakeSyntheticPe({.certificateLengths = {1000}});
  StampResult first = StampChannel(pe.bytes, {{"pkgName", "first.pkg"}, {"supplyid", 1}, {"colour", "red"}});
  StampResult second = StampChannel(
      first.image, {{"pkgName", "second.pkg"}, {"buildid", 7}, {"supplyid", 2}, {"colour", "blue"}});

  const std::string warnings = Joined(second.warnings);
  EXPECT_EQ(CountOf(warnings, "key \"pkgName\" of the new block is shadowed by the older block #2"), 1u) << warnings;
  EXPECT_EQ(CountOf(warnings, "key \"supplyid\" of the new block is shadowed"), 1u) << warnings;
  EXPECT_NE(warnings.find("sets it to \"first.pkg\""), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("\"buildid\" of the new block"), std::string::npos) << "no older block sets buildid";
  EXPECT_EQ(warnings.find("\"colour\" of the new block"), std::string::npos) << "the installer ignores colour";

  // What the installer ends up with: the older block wins.
  EffectiveConfig config = ApplyAsInstaller(WalkChannelBlocks(second.image).InstallerDocuments());
  EXPECT_EQ(config.settings.pkgName, "first.pkg");
  EXPECT_EQ(config.settings.supplyid, 1u);
  EXPECT_EQ(config.settings.buildid, 7u);
}

TEST(Stamp, WarnsWhenTheInstallerCannotReadAnOlderBlock) {
  StampResult first = StampChannel(MakeSyntheticPe({}).bytes, {{"pkgName", "first"}});
  first.image[first.dataOffset + 3] ^= 0x20;  // breaks the digest
  StampResult second = StampChannel(first.image, {{"pkgName", "second"}});
  const std::string warnings = Joined(second.warnings);
  EXPECT_NE(warnings.find("block #2 (data at " + Hex(first.dataOffset) + ") fails its digest check"),
            std::string::npos)
      << warnings;
  EXPECT_EQ(warnings.find("shadowed"), std::string::npos) << "a block the installer never reads shadows nothing";
}
