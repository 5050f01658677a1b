// The tool's picture of the installer against the installer's own code: what
// the tool writes, the installer's reader finds, and what the tool reports as
// the effective configuration is what the installer's apply produces.
#include <gtest/gtest.h>

#include "base/text_convert.h"
#include "block_chain.h"
#include "config/channel_block.h"
#include "config/global_config.h"
#include "effective_config.h"
#include "stamper.h"
#include "synthetic_pe.h"
#include "temp_folder.h"

using namespace wexchannel;

namespace {

// The installer's fields in the tool's form.
ChannelSettings FromInstaller(const GlobalConfig& c) {
  ChannelSettings s;
  s.buildid = c.buildid;
  s.supplyid = c.supplyid;
  s.international = c.international;
  s.pkgName = c.pkgName;
  s.area = c.area;
  s.silentMode = c.silentMode;
  s.marketExternParams = c.marketExternParams;
  s.sourceid = c.sourceid;
  s.bkgPngNumber = c.bkgPngNumber;
  s.createMarketIcon = c.createMarketIcon;
  s.installMarket = c.installMarket;
  s.installUI = c.installUI;
  s.installRootfs = c.installRootfs;
  s.installVDI = c.installVDI;
  s.installVDI71 = c.installVDI71;
  s.installQuib = c.installQuib;
  s.gameName = WideToUtf8(c.gameName);
  s.title = WideToUtf8(c.title);
  return s;
}

}  // namespace

TEST(InstallerAgreement, EffectiveConfigurationMatchesTheInstallersApply) {
  // Chains, nearest the end of the file first.
  const std::vector<std::vector<const char*>> chains = {
      {},
      {R"({"buildid":319,"supplyid":200205540,"international":1,"pkgName":"p","area":"cn","silentMode":1,)"
       R"("marketExternParams":"m","sourceid":"s","bkgPngNumber":3,"createMarketIcon":true,"installMarket":false,)"
       R"("installUI":true,"installRootfs":true,"installVDI":true,"installVDI71":true,"installQuib":true,)"
       R"("gameName":"Gäme","title":"Tïtle"})"},
      {R"({"pkgName":"newer","buildid":2})", R"({"pkgName":"older","title":"old"})"},
      {R"({"buildid":9,"supplyid":"12","pkgName":"never"})", R"({"area":"never"})"},
      {R"({"area":"kept"})", R"({"installUI":1})"},
      {R"({"international":true,"bkgPngNumber":3.9,"supplyid":-1})"},
      {R"([{"pkgName":"x"}])", R"({"title":"after the array"})"},
  };
  for (const auto& chain : chains) {
    std::vector<nlohmann::json> documents;
    for (const char* text : chain) documents.push_back(nlohmann::json::parse(text));
    SCOPED_TRACE(nlohmann::json(documents).dump());

    GlobalConfig installer;
    std::string installerError;
    try {
      for (const auto& document : documents) ApplyChannelDocument(document, installer);
    } catch (const std::exception& e) {
      installerError = e.what();
    }
    EffectiveConfig tool = ApplyAsInstaller(documents);
    EXPECT_EQ(DescribeSettings(tool.settings), DescribeSettings(FromInstaller(installer)));
    EXPECT_EQ(tool.applyError, installerError);
  }
}

TEST(InstallerAgreement, InstallersReaderFindsEveryBlockTheToolWrites) {
  for (bool signedImage : {false, true}) {
    SyntheticPe pe = MakeSyntheticPe({.pe32Plus = true, .certificateLengths = signedImage
                                                                                  ? std::vector<uint32_t>{1003}
                                                                                  : std::vector<uint32_t>{}});
    std::vector<uint8_t> image = pe.bytes;
    const std::vector<nlohmann::ordered_json> stamps = {{{"pkgName", "first"}, {"supplyid", 1}},
                                                        {{"buildid", 2}, {"gameName", "Second"}},
                                                        {{"title", "Third"}}};
    for (const auto& document : stamps) image = StampChannel(image, document).image;

    TempFolder folder;
    WriteBytes(folder.File("stamped.exe"), image);
    std::vector<nlohmann::json> read = ReadChannelDocuments(folder.File("stamped.exe").wstring());
    ASSERT_EQ(read.size(), stamps.size());
    for (size_t i = 0; i < stamps.size(); ++i) {
      EXPECT_EQ(read[i].dump(), nlohmann::json::parse(stamps[stamps.size() - 1 - i].dump()).dump());
    }
    EXPECT_EQ(read, WalkChannelBlocks(image).InstallerDocuments());
  }
}
