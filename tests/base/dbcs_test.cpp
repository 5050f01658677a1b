#include "base/dbcs.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/text_convert.h"

namespace {

constexpr UINT kChineseSimplified = 936;
constexpr UINT kJapanese = 932;
constexpr UINT kWestern = 1252;

TEST(ContainsDbcsLeadByteTest, DetectsDoubleByteCharactersOfCodePage) {
  struct Case {
    const char* utf8;
    UINT codePage;
    bool expected;
  };
  const Case kCases[] = {
      {"C:\\\xe6\xb8\xb8\xe6\x88\x8f\\Wex", kChineseSimplified, true},           // C:\游戏\Wex
      {"C:\\Games\\Wex\xe5\xb9\xb3\xe5\x8f\xb0", kChineseSimplified, true},      // trailing 平台
      {"C:\\\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0", kJapanese, true},             // C:\ゲーム
      {"C:\\Program Files (x86)\\Wex Games", kChineseSimplified, false},
      {"C:\\Program Files (x86)\\Wex Games", CP_ACP, false},
      {"", kChineseSimplified, false},
      {"", CP_ACP, false},
      {"C:\\Jeux\\Caf\xc3\xa9 \xc3\x89lite \xc3\xbc\xc3\xb1", kWestern, false},  // Café Élite üñ
      // Characters the code page lacks become '?', never a lead byte.
      {"C:\\\xe6\xb8\xb8\xe6\x88\x8f", kWestern, false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(ContainsDbcsLeadByte(Utf8ToWide(c.utf8), c.codePage), c.expected)
        << c.utf8 << " in code page " << c.codePage;
  }
}

}  // namespace
