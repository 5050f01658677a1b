#include "component/component_catalogue.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/log_capture.h"
#include "support/test_paths.h"

namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  // Reads `xml` with supply id `supply`; returns what ParseComponentXml did.
  bool Parse(const std::string& xml, uint32_t supply = 0) {
    catalogue_ = ComponentCatalogue(supply);
    std::wstring path = scratch_.File(L"compoment.xml");
    WriteFileBytes(path, xml);
    return catalogue_.ParseComponentXml(path, &resultCode_);
  }

  ScratchFolder scratch_;
  ComponentCatalogue catalogue_{0};
  int resultCode_ = 0;
};

std::string Item(int id, const std::string& url, const std::string& extra = "") {
  return "<Item id=\"" + std::to_string(id) + "\" name=\"pkg" + std::to_string(id) +
         ".exe\" DL_ID=\"5\" filesize=\"10\" url=\"" + url + "\" " + extra + "/>";
}

TEST_F(CatalogueTest, ReadsEveryAttributeOfAnItem) {
  ASSERT_TRUE(Parse(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><root><Item id=\"7\" name=\"Vendrix_setup.exe\" "
      "localaddpath=\"Vendrix\" installInX86=\"1\" installInX64=\"true\" "
      "writePathToRegKey=\"Software\\Vorlenk\\Pardomix\\Vendrix\" DL_ID=\"18446744073709551615\" "
      "hash=\"ABCDEF\" filesize=\"5368709120\" url=\"http://h/a&amp;b\" version=\"3.1.20.5\"/>"
      "</root>"));
  const ComponentItem& item = catalogue_.CatalogueItems().at(7);
  EXPECT_EQ(item.id, 7);
  EXPECT_EQ(item.name, L"Vendrix_setup.exe");
  EXPECT_EQ(item.localAddPath, L"Vendrix");
  EXPECT_TRUE(item.installInX86);
  EXPECT_FALSE(item.installInX64) << "only \"1\" is true";
  EXPECT_EQ(item.writePathToRegKey, L"Software\\Vorlenk\\Pardomix\\Vendrix");
  EXPECT_EQ(item.dlId, 18446744073709551615ull);
  EXPECT_EQ(item.hash, L"ABCDEF");
  EXPECT_EQ(item.fileSize, 5368709120ull);
  EXPECT_EQ(item.url, L"http://h/a&b");
  EXPECT_EQ(item.versionText, L"3.1.20.5");
  EXPECT_EQ(item.versionNumber, 0x0003000100140005ull);
  EXPECT_TRUE(catalogue_.ChannelItems().empty());
}

TEST_F(CatalogueTest, NameStrengthsAndFirstIdWins) {
  ASSERT_TRUE(Parse("<r>" + Item(1, "first") + "<ITEM id=\"1\" DL_ID=\"1\" filesize=\"1\" url=\"second\"/>" +
                    "<iTeM ID=\"9\" id=\"2\" Url=\"ignored\" DL_ID=\"1\" filesize=\"1\"/>" +
                    "<Other><otherconfig><ChannelComponents ChannelRange=\"0\">" + Item(3, "x") +
                    "</ChannelComponents></otherconfig></Other></r>"));
  EXPECT_EQ(catalogue_.CatalogueItems().at(1).url, L"first");
  EXPECT_EQ(catalogue_.CatalogueItems().at(2).url, L"") << "attribute names are exact";
  EXPECT_EQ(catalogue_.CatalogueItems().count(9), 0u);
  EXPECT_TRUE(catalogue_.ChannelItems().empty()) << "\"OtherConfig\" must match exactly";
}

struct NumberCase {
  const wchar_t* text;
  uint64_t value;
  const char* error;  // null when the text reads
};

TEST(CatalogueNumbers, ReadLikeTheCLibrary) {
  const NumberCase cases[] = {
      {L"12abc", 12, nullptr},
      {L"  42", 42, nullptr},
      {L"+5", 5, nullptr},
      {L"-1", 18446744073709551615ull, nullptr},
      {L"18446744073709551615", 18446744073709551615ull, nullptr},
      {L"", 0, "invalid stoull argument"},
      {L"abc", 0, "invalid stoull argument"},
      {L"99999999999999999999", 0, "stoull argument out of range"},
  };
  for (const NumberCase& c : cases) {
    if (!c.error) {
      EXPECT_EQ(ReadCatalogueNumber(c.text), c.value);
      continue;
    }
    try {
      ReadCatalogueNumber(c.text);
      ADD_FAILURE() << "no exception";
    } catch (const std::logic_error& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
}

TEST_F(CatalogueTest, MissingRequiredNumberAbortsButKeepsEarlierRecords) {
  EXPECT_THROW(Parse("<r>" + Item(1, "a") + "<Item id=\"\" DL_ID=\"1\" filesize=\"1\"/>" +
                     Item(2, "b") + "</r>"),
               std::invalid_argument);
  EXPECT_EQ(catalogue_.CatalogueItems().count(1), 1u);
  EXPECT_EQ(catalogue_.CatalogueItems().count(2), 0u);
  EXPECT_THROW(Parse("<r><Item id=\"1\" DL_ID=\"1\" filesize=\"99999999999999999999\"/></r>"),
               std::out_of_range);
}

TEST_F(CatalogueTest, FailuresSetTheirResultCodes) {
  LogCapture capture;
  EXPECT_FALSE(catalogue_.ParseComponentXml(L"", &resultCode_));
  EXPECT_EQ(resultCode_, 1);
  EXPECT_FALSE(Parse("this is not xml <"));
  EXPECT_EQ(resultCode_, 3);
  resultCode_ = 0;
  EXPECT_FALSE(catalogue_.ParseComponentXml(scratch_.File(L"missing.xml"), &resultCode_));
  EXPECT_EQ(resultCode_, 3);
  auto texts = capture.Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "xml path is null!");
  EXPECT_EQ(texts[1], "load component xml failed.");
}

TEST(CatalogueVersions, PackSixteenBitsPerPart) {
  struct {
    const wchar_t* text;
    bool packs;
    uint64_t value;
  } cases[] = {
      {L"1.2.3.4", true, 0x0001000200030004ull}, {L"v1.2.3.4", true, 0x0001000200030004ull},
      {L"1.2.3", false, 0},                      {L"", false, 0},
      {L"1.70000.0.0", true, 0x0002117000000000ull},  // 70000 carries into the next field
      {L"1.2.3.4.5", true, 0x0001000200030009ull},
  };
  for (const auto& c : cases) {
    uint64_t number = 99;
    EXPECT_EQ(ParseVersionNumber(c.text, &number), c.packs) << c.text;
    EXPECT_EQ(number, c.value) << c.text;
  }
}

struct ChannelCase {
  const char* range;
  uint32_t supply;
  bool selected;
};

class ChannelRangeTest : public CatalogueTest, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelRangeTest, SelectsByRangesAndSingleIds) {
  const ChannelCase& c = GetParam();
  LogCapture capture;
  ASSERT_TRUE(Parse(std::string("<r>") + Item(1, "general") +
                        "<other><OtherConfig><ChannelComponents ChannelRange=\"" + c.range + "\">" +
                        Item(1, "channel") + "</ChannelComponents></OtherConfig></other></r>",
                    c.supply));
  EXPECT_EQ(catalogue_.ChannelItems().count(1), c.selected ? 1u : 0u) << c.range << " " << c.supply;
  if (c.selected) {
    EXPECT_EQ(capture.Texts().front(), "get channel: " + std::to_string(c.supply) + " 1 components.");
  }
}

INSTANTIATE_TEST_SUITE_P(Ranges, ChannelRangeTest,
                         ::testing::Values(ChannelCase{"100-199", 150, true},
                                           ChannelCase{"100-199", 199, true},
                                           ChannelCase{"100-199", 100, true},
                                           ChannelCase{"100-199", 200, false},
                                           ChannelCase{"1-99,150", 150, true},
                                           ChannelCase{"100-199,250;300", 300, true},
                                           ChannelCase{"10 - 20", 15, false},
                                           ChannelCase{"10 - 20", 20, true},
                                           ChannelCase{"20-10", 15, false},
                                           ChannelCase{"100-200-300", 300, true},
                                           ChannelCase{"100-200-300", 250, false},
                                           ChannelCase{"", 0, false}));

TEST_F(CatalogueTest, LastMatchingChannelWinsWithoutMerging) {
  ASSERT_TRUE(Parse("<r><other><OtherConfig>"
                    "<ChannelComponents ChannelRange=\"1-10\">" + Item(1, "a") + Item(2, "a") +
                    "</ChannelComponents></OtherConfig></other>"
                    "<other><OtherConfig><ChannelComponents ChannelRange=\"5\">" + Item(3, "b") +
                    "</ChannelComponents><ChannelComponents ChannelRange=\"6\">" + Item(4, "c") +
                    "</ChannelComponents></OtherConfig></other></r>",
                    5));
  ASSERT_EQ(catalogue_.ChannelItems().size(), 1u);
  EXPECT_EQ(catalogue_.ChannelItems().at(3).url, L"b");
}

TEST_F(CatalogueTest, MalformedRangeNumberThrows) {
  EXPECT_THROW(Parse("<r><other><OtherConfig><ChannelComponents ChannelRange=\"1-99999999999999999999\">"
                     "</ChannelComponents></OtherConfig></other></r>",
                     5),
               std::out_of_range);
}

}  // namespace
