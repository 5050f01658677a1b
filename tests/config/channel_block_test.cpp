#include "config/channel_block.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/md5.h"
#include "config/channel_trailer.h"
#include "config/global_config.h"
#include "support/log_capture.h"
#include "support/test_paths.h"

namespace {

// Some bytes standing in for the program in front of the blocks.
const std::string kProgram = std::string("MZ") + std::string(300, '\x90');

// data + trailer, as the packaging step appends it.
std::string Block(const std::string& data) {
  auto trailer = ChannelTrailer::Build(data.data(), static_cast<uint32_t>(data.size()));
  return data + std::string(trailer.begin(), trailer.end());
}
std::string JsonBlock(const std::string& json) { return Block(json + std::string(1, '\0')); }

// A trailer with the given raw fields, for blocks that lie about themselves.
std::string RawTrailer(uint16_t magic, uint32_t length, const std::string& digest) {
  std::string t(ChannelTrailer::kSize, '\0');
  t[0] = static_cast<char>(magic & 0xFF);
  t[1] = static_cast<char>(magic >> 8);
  for (int i = 0; i < 4; ++i) t[2 + i] = static_cast<char>(length >> (8 * i));
  std::copy(digest.begin(), digest.end(), t.begin() + 6);
  t[39] = '\x01';
  return t;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class ChannelBlockTest : public ::testing::Test {
 protected:
  // Writes the file and reads its blocks into config; returns the log texts.
  std::vector<std::string> Load(const std::string& bytes) {
    std::wstring path = scratch_.File(L"stamped.exe");
    WriteFileBytes(path, bytes);
    LogCapture capture;
    config_.InitParamsFromSelf(path);
    return capture.Texts();
  }

  ScratchFolder scratch_;
  GlobalConfig config_;
};

// A 183-byte text, as a real channel build carries it.
const std::string kPackagedJson =
    R"({"supplyid":200205540,"createMarketIcon":true,"title":"Arena Mobile Title",)"
    R"("pkgName":"com.korvane.arenamobile","gameName":"Arena Mobile","bkgPngNumber":3,)"
    R"("buildid":319,"sourceid":"x"})";

TEST_F(ChannelBlockTest, PackagedBlockIsAppliedAndLogged) {
  ASSERT_EQ(kPackagedJson.size(), 183u);
  std::string block = JsonBlock(kPackagedJson);
  ASSERT_EQ(static_cast<uint8_t>(block[block.size() - 38]), 184u);
  auto texts = Load(kProgram + block);

  EXPECT_EQ(config_.supplyid, 200205540u);
  EXPECT_TRUE(config_.createMarketIcon);
  EXPECT_EQ(config_.title, L"Arena Mobile Title");
  EXPECT_EQ(config_.pkgName, "com.korvane.arenamobile");
  EXPECT_EQ(config_.gameName, L"Arena Mobile");
  EXPECT_EQ(config_.bkgPngNumber, 3);
  EXPECT_EQ(config_.buildid, 319u);
  EXPECT_TRUE(config_.installMarket) << "keys the block lacks keep their defaults";

  std::vector<std::string> expected = {
      "find the inject data: " + kPackagedJson,
      "check magic failed or length is zero",
      "need install pkg [com.korvane.arenamobile]",
      "WexDownloader inner SupplyId [200205540]",
      "WexDownloader inner buildid [319]",
      "WexDownloader inner appid [x]",
      "Background png number: 3",
  };
  EXPECT_EQ(texts, expected);
}

TEST_F(ChannelBlockTest, FileWithoutBlockKeepsDefaults) {
  auto texts = Load(kProgram);
  std::vector<std::string> expected = {
      "check magic failed or length is zero", "need install pkg []",
      "WexDownloader inner SupplyId [0]",     "WexDownloader inner buildid [0]",
      "WexDownloader inner appid []",         "Background png number: 0",
  };
  EXPECT_EQ(texts, expected);
  EXPECT_TRUE(config_.installMarket);
  EXPECT_EQ(config_.language, L"zh_CN");
}

TEST_F(ChannelBlockTest, TamperedDataIsNeverParsed) {
  std::string block = JsonBlock(R"({"supplyid":7})");
  block[3] = 'X';  // inside the JSON text, under the digest
  auto texts = Load(kProgram + block);
  EXPECT_EQ(config_.supplyid, 0u);
  std::string expectedPrefix = "extern data md5 is not equal to header md5. header md5: ";
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0].rfind(expectedPrefix, 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find(" data md5: "), std::string::npos);
}

TEST_F(ChannelBlockTest, LowerCaseDigestIsAccepted) {
  std::string data = std::string(R"({"supplyid":42})") + '\0';
  std::string block = data + RawTrailer(ChannelTrailer::kMagic, static_cast<uint32_t>(data.size()),
                                        Md5::HexOf(data.data(), data.size()));
  Load(kProgram + block);
  EXPECT_EQ(config_.supplyid, 42u);
}

TEST_F(ChannelBlockTest, BytesAfterTheZeroAreCoveredButNotParsed) {
  std::string data = std::string(R"({"supplyid":5})") + '\0' + "garbage{";
  auto texts = Load(kProgram + Block(data));
  EXPECT_EQ(config_.supplyid, 5u);
  EXPECT_TRUE(Contains(texts, R"(find the inject data: {"supplyid":5})"));
}

TEST_F(ChannelBlockTest, ChainedBlocksFurtherFromTheEndWin) {
  std::string older = JsonBlock(R"({"pkgName":"first","supplyid":1})");
  std::string newer = JsonBlock(R"({"pkgName":"second","buildid":9})");
  auto texts = Load(kProgram + older + newer);
  EXPECT_EQ(config_.pkgName, "first");
  EXPECT_EQ(config_.supplyid, 1u);
  EXPECT_EQ(config_.buildid, 9u);
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], R"(find the inject data: {"pkgName":"second","buildid":9})");
  EXPECT_EQ(texts[1], R"(find the inject data: {"pkgName":"first","supplyid":1})");
  EXPECT_EQ(texts[2], "check magic failed or length is zero");
}

TEST_F(ChannelBlockTest, WrongTypeStopsApplyingAtThatKey) {
  // Applied in key order: buildid, supplyid, international, pkgName ...
  auto texts = Load(kProgram + JsonBlock(R"({"buildid":77,"supplyid":"12","pkgName":"p"})"));
  EXPECT_EQ(config_.buildid, 77u);
  EXPECT_EQ(config_.supplyid, 0u);
  EXPECT_EQ(config_.pkgName, "");
  bool logged = std::any_of(texts.begin(), texts.end(), [](const std::string& t) {
    return t.rfind("init params from json failed. exception: ", 0) == 0 &&
           t.find("type must be number, but is string") != std::string::npos;
  });
  EXPECT_TRUE(logged);
}

struct TypeCase {
  const char* json;
  const char* message;  // empty when the value is accepted
};

class ChannelTypeTest : public ChannelBlockTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ChannelTypeTest, ValuesConvertAsTheJsonLibraryDoes) {
  auto texts = Load(kProgram + JsonBlock(GetParam().json));
  std::string message = GetParam().message;
  bool failed = std::any_of(texts.begin(), texts.end(), [](const std::string& t) {
    return t.rfind("init params from json failed. exception: ", 0) == 0;
  });
  if (message.empty()) {
    EXPECT_FALSE(failed);
  } else {
    bool found = std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
      return t.find(message) != std::string::npos;
    });
    EXPECT_TRUE(found) << "expected " << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, ChannelTypeTest,
    ::testing::Values(TypeCase{R"({"silentMode":true})", ""},
                      TypeCase{R"({"bkgPngNumber":2.9})", ""},
                      TypeCase{R"({"installMarket":1})", "type must be boolean, but is number"},
                      TypeCase{R"({"pkgName":5})", "type must be string, but is number"},
                      TypeCase{R"({"title":null})", "type must be string, but is null"},
                      TypeCase{R"({"supplyid":[1]})", "type must be number, but is array"},
                      TypeCase{R"([1,2,3])", ""}));

TEST_F(ChannelBlockTest, BooleanSetsNumberFieldAndArraySetsNothing) {
  Load(kProgram + JsonBlock(R"([{"supplyid":3}])") + JsonBlock(R"({"silentMode":true})"));
  EXPECT_EQ(config_.silentMode, 1);
  EXPECT_EQ(config_.supplyid, 0u);
}

TEST_F(ChannelBlockTest, UnparsableTextIsLoggedAndEndsTheWalk) {
  std::string earlier = JsonBlock(R"({"supplyid":3})");
  auto texts = Load(kProgram + earlier + JsonBlock("{not json"));
  EXPECT_EQ(config_.supplyid, 0u);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0].rfind("parse the inject data: {not json failed. exception: ", 0), 0u)
      << texts[0];
}

TEST_F(ChannelBlockTest, ZeroLengthWithRightMagicEndsTheWalk) {
  auto texts = Load(kProgram + RawTrailer(ChannelTrailer::kMagic, 0, std::string(32, '0')));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], "check magic failed or length is zero");
}

// A forged length larger than the file must fail the read before anything
// of that size is allocated.
TEST_F(ChannelBlockTest, LengthBeyondTheFileStartFailsWithoutAllocating) {
  for (uint32_t length : {static_cast<uint32_t>(kProgram.size() + 1), 0xFFFFFFF0u}) {
    GlobalConfig fresh;
    config_ = fresh;
    auto texts = Load(kProgram + RawTrailer(ChannelTrailer::kMagic, length, std::string(32, 'A')));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0].rfind("read extern data failed. error code: ", 0), 0u) << texts[0];
  }
}

TEST_F(ChannelBlockTest, ShortOrMissingFiles) {
  auto texts = Load("tiny");
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0].rfind("read extern data header failed. error code: ", 0), 0u) << texts[0];

  LogCapture capture;
  config_.InitParamsFromSelf(scratch_.File(L"missing.exe"));
  auto missing = capture.Texts();
  ASSERT_FALSE(missing.empty());
  EXPECT_EQ(missing[0], "get file size failed. error code: 2");
  EXPECT_EQ(missing[1], "need install pkg []");
}

TEST_F(ChannelBlockTest, UnicodeNamesAreWidened) {
  Load(kProgram + JsonBlock("{\"gameName\":\"\xE7\x8E\xA9\",\"title\":\"T\xC3\xA9\"}"));
  EXPECT_EQ(config_.gameName, L"\u73A9");
  EXPECT_EQ(config_.title, L"T\u00E9");
}

}  // namespace
