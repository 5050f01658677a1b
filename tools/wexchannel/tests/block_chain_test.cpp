#include "block_chain.h"

#include <gtest/gtest.h>

#include "config/channel_trailer.h"
#include "effective_config.h"
#include "stamper.h"

using namespace wexchannel;

namespace {

const std::vector<uint8_t> kProgram(300, 0x90);

std::vector<uint8_t> Chain(const std::vector<std::vector<uint8_t>>& blocks) {
  std::vector<uint8_t> file = kProgram;
  for (const auto& block : blocks) file.insert(file.end(), block.begin(), block.end());
  return file;
}

std::vector<uint8_t> RawBlock(const std::string& data, uint32_t statedLength, bool lowerCaseDigest = false) {
  std::vector<uint8_t> block(data.begin(), data.end());
  auto trailer = ChannelTrailer::Build(data.data(), static_cast<uint32_t>(data.size()));
  for (int i = 0; i < 4; ++i) trailer[2 + i] = static_cast<uint8_t>(statedLength >> (8 * i));
  if (lowerCaseDigest) {
    for (size_t i = 6; i < 38; ++i) trailer[i] = static_cast<uint8_t>(std::tolower(trailer[i]));
  }
  block.insert(block.end(), trailer.begin(), trailer.end());
  return block;
}

// Documents nearest the end of the file first, as the installer lists them.
std::vector<nlohmann::json> Documents(const std::vector<const char*>& texts) {
  std::vector<nlohmann::json> documents;
  for (const char* text : texts) documents.push_back(nlohmann::json::parse(text));
  return documents;
}

}  // namespace

TEST(BlockChain, ReadsBlocksFromTheEndAndStopsTheInstallerAtABadOne) {
  std::vector<uint8_t> bad = EncodeBlock(R"({"pkgName":"older"})", 0);
  bad[2] = 'P';  // the digest no longer holds
  std::vector<uint8_t> file = Chain({EncodeBlock(R"({"pkgName":"oldest"})", 0), bad,
                                     RawBlock(std::string(R"({"supplyid":3})") + '\0' + "pad", 18, true)});
  BlockChain chain = WalkChannelBlocks(file);
  ASSERT_EQ(chain.blocks.size(), 3u) << "the walk goes on past a bad block";
  EXPECT_EQ(chain.installerReads, 1u);
  EXPECT_TRUE(chain.blocks[0].digestOk) << "a lower-case digest is accepted";
  EXPECT_EQ(chain.blocks[0].text, R"({"supplyid":3})");
  EXPECT_EQ(chain.blocks[0].bytesAfterZero, 3u) << "bytes after the zero are covered, not parsed";
  EXPECT_FALSE(chain.blocks[1].digestOk);
  EXPECT_FALSE(chain.blocks[1].document);
  EXPECT_TRUE(chain.blocks[2].digestOk);
  EXPECT_EQ(chain.endOffset, kProgram.size());
  EXPECT_EQ(chain.InstallerDocuments().size(), 1u);
}

TEST(BlockChain, EndsWhereNoPlausibleTrailerIs) {
  const std::string data = std::string(R"({"a":1})") + '\0';
  struct Case {
    std::vector<uint8_t> file;
    const char* reason;
  };
  const Case cases[] = {
      {kProgram, "no trailer ends at"},
      {Chain({RawBlock(data, 0)}), "no trailer ends at"},  // right magic, length 0
      {Chain({RawBlock(data, 100000)}), "more than the file holds before it"},
      {std::vector<uint8_t>(10, 0), "too few bytes"},
  };
  for (const Case& c : cases) {
    BlockChain chain = WalkChannelBlocks(c.file);
    EXPECT_TRUE(chain.blocks.empty());
    EXPECT_NE(chain.endReason.find(c.reason), std::string::npos) << chain.endReason;
  }
  std::vector<uint8_t> unparsable = Chain({EncodeBlock("{not json", 0)});
  BlockChain chain = WalkChannelBlocks(unparsable);
  ASSERT_EQ(chain.blocks.size(), 1u);
  EXPECT_TRUE(chain.blocks[0].digestOk);
  EXPECT_FALSE(chain.blocks[0].parseError.empty());
  EXPECT_EQ(chain.installerReads, 0u);
}

TEST(EffectiveConfig, AppliesLikeTheInstaller) {
  // The older block (listed later) wins a repeated key.
  EffectiveConfig repeated = ApplyAsInstaller(
      Documents({R"({"pkgName":"newer","buildid":2})", R"({"pkgName":"older","supplyid":5})"}));
  EXPECT_EQ(repeated.settings.pkgName, "older");
  EXPECT_EQ(repeated.source.at("pkgName"), 1u);
  EXPECT_EQ(repeated.settings.buildid, 2u);
  EXPECT_EQ(repeated.source.at("buildid"), 0u);
  EXPECT_EQ(repeated.settings.supplyid, 5u);
  EXPECT_TRUE(repeated.applyError.empty());

  // A value of the wrong type stops everything after it; keys before it stay.
  EffectiveConfig stopped = ApplyAsInstaller(
      Documents({R"({"buildid":9,"supplyid":"12","pkgName":"never"})", R"({"area":"never"})"}));
  EXPECT_EQ(stopped.settings.buildid, 9u);
  EXPECT_EQ(stopped.settings.supplyid, 0u);
  EXPECT_EQ(stopped.settings.pkgName, "");
  EXPECT_EQ(stopped.settings.area, "");
  EXPECT_NE(stopped.applyError.find("type must be number, but is string"), std::string::npos);
  EXPECT_EQ(stopped.applyErrorDocument, 0u);

  // The library's own conversions: booleans to numbers, fractions truncated.
  EffectiveConfig converted = ApplyAsInstaller(
      Documents({R"({"international":true,"bkgPngNumber":3.9,"gameName":"G","title":"T","installMarket":false})"}));
  EXPECT_EQ(converted.settings.international, 1);
  EXPECT_EQ(converted.settings.bkgPngNumber, 3);
  EXPECT_EQ(converted.settings.gameName, "G");
  EXPECT_EQ(converted.settings.title, "T");
  EXPECT_FALSE(converted.settings.installMarket);

  EffectiveConfig array = ApplyAsInstaller(Documents({R"([{"pkgName":"x"}])"}));
  EXPECT_TRUE(array.source.empty()) << "an array sets nothing";
  EXPECT_TRUE(array.settings.installMarket) << "defaults as the installer's";
}
