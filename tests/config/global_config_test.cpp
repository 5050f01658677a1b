#include "config/global_config.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/settings_key.h"
#include "config/channel_trailer.h"
#include "support/log_capture.h"
#include "support/test_paths.h"

namespace {

constexpr const wchar_t* kKey = GlobalConfig::kSettingsKey;

class FakeLanguage : public LanguageSource {
 public:
  FakeLanguage(LANGID ui, std::wstring language, std::wstring country)
      : ui_(ui), language_(std::move(language)), country_(std::move(country)) {}
  LANGID UiLanguage() const override { return ui_; }
  std::wstring LocaleLanguageName() const override { return language_; }
  std::wstring LocaleCountryName() const override { return country_; }

 private:
  LANGID ui_;
  std::wstring language_, country_;
};

const FakeLanguage kEnglishUs(0x0409, L"en", L"US");

void DeleteSettings() {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    SettingsKey vorlenk;
    if (vorlenk.TryOpen(root, L"Software\\Vorlenk", SettingsKey::kReadWrite) == ERROR_SUCCESS) {
      vorlenk.TryDeleteTree(L"Pardomix");
    }
  }
}

std::wstring ReadUserString(const wchar_t* name) {
  SettingsKey key;
  std::wstring value;
  key.TryOpen(HKEY_CURRENT_USER, kKey, SettingsKey::kReadOnly);
  key.TryReadString(name, value);
  return value;
}

bool ReadMachineDword(const wchar_t* name, DWORD& value) {
  SettingsKey key;
  return key.TryOpen(HKEY_LOCAL_MACHINE, kKey, SettingsKey::kReadOnly) == ERROR_SUCCESS &&
         key.TryReadDword(name, value) == ERROR_SUCCESS;
}

void WriteUserString(const wchar_t* name, const std::wstring& value) {
  SettingsKey key;
  ASSERT_EQ(key.TryCreate(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
  ASSERT_EQ(key.TryWriteString(name, value.c_str()), ERROR_SUCCESS);
}

void WriteMachineDword(const wchar_t* name, DWORD value) {
  SettingsKey key;
  ASSERT_EQ(key.TryCreate(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
  ASSERT_EQ(key.TryWriteDword(name, value), ERROR_SUCCESS);
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Each test starts and ends without the installer's registry settings.
class GlobalConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteSettings(); }
  void TearDown() override { DeleteSettings(); }

  // A program file whose channel block holds `json` (none when empty).
  std::wstring Program(const std::string& json) {
    std::string bytes = "MZ program";
    if (!json.empty()) {
      std::string data = json + '\0';
      auto trailer = ChannelTrailer::Build(data.data(), static_cast<uint32_t>(data.size()));
      bytes += data + std::string(trailer.begin(), trailer.end());
    }
    std::wstring path = scratch_.File(L"WexDownloader.exe");
    WriteFileBytes(path, bytes);
    return path;
  }

  ScratchFolder scratch_;
};

TEST_F(GlobalConfigTest, FirstRunSettlesAndRecordsEverything) {
  LogCapture capture;
  GlobalConfig config;
  config.Settle(Program(R"({"supplyid":123})"), L"C:\\", kEnglishUs);

  EXPECT_EQ(config.driveRoot, L"C:\\");
  EXPECT_EQ(config.tempPath, L"C:\\Temp\\Grelmfetch\\Component\\");
  EXPECT_NE(::GetFileAttributesW(config.tempPath.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(config.installPath, L"C:\\Program Files\\Ludovane\\");
  EXPECT_EQ(config.language, L"zh_CN") << "a domestic build always speaks zh_CN";
  EXPECT_EQ(ReadUserString(L"TempPath"), config.tempPath);
  EXPECT_EQ(ReadUserString(L"UserLanguage"), L"zh_CN");
  DWORD supply = 0;
  ASSERT_TRUE(ReadMachineDword(L"SupplyId", supply));
  EXPECT_EQ(supply, 123u);

  auto texts = capture.Texts();
  auto at = [&](const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) - texts.begin();
  };
  std::vector<std::string> inOrder = {
      "Background png number: 0",
      "TempPath reg value read failed. Cannot get size of string value: RegGetValue failed.",
      "current temp path: [C:\\Temp\\Grelmfetch\\Component\\]",
      "current install path: C:\\Program Files\\Ludovane\\",
      "write supplyid 123 to register",
      "runtime supplyid [123]",
      "current language: zh_CN",
      "client id: 190912",
  };
  for (size_t i = 0; i < inOrder.size(); ++i) {
    ASSERT_LT(at(inOrder[i]), static_cast<long>(texts.size())) << "missing: " << inOrder[i];
    if (i) {
      EXPECT_LT(at(inOrder[i - 1]), at(inOrder[i])) << inOrder[i];
    }
  }
}

TEST_F(GlobalConfigTest, RecordedSupplyIdIsOnlyLoggedNeverReplaced) {
  WriteMachineDword(L"SupplyId", 77);
  LogCapture capture;
  GlobalConfig config;
  config.Settle(Program(R"({"supplyid":123})"), L"C:\\", kEnglishUs);
  auto texts = capture.Texts();
  EXPECT_TRUE(Contains(texts, "read supplyid [77] from register"));
  EXPECT_TRUE(Contains(texts, "runtime supplyid [123]"));
  DWORD supply = 0;
  ASSERT_TRUE(ReadMachineDword(L"SupplyId", supply));
  EXPECT_EQ(supply, 77u);
  EXPECT_EQ(config.supplyid, 123u);
}

TEST_F(GlobalConfigTest, SupplyIdOfAnotherTypeIsReplaced) {
  SettingsKey key;
  ASSERT_EQ(key.TryCreate(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
  ASSERT_EQ(key.TryWriteString(L"SupplyId", L"77"), ERROR_SUCCESS);
  GlobalConfig config;
  config.supplyid = 5;
  config.InitSupplyid();
  DWORD supply = 0;
  ASSERT_TRUE(ReadMachineDword(L"SupplyId", supply));
  EXPECT_EQ(supply, 5u);
}

TEST_F(GlobalConfigTest, StoredTempPathIsKeptWhileItExists) {
  ScratchFolder other;
  std::wstring stored = other.Path().substr(0, other.Path().size() - 1);  // no backslash
  WriteUserString(L"TempPath", stored);
  GlobalConfig config;
  config.driveRoot = L"C:\\";
  config.InitTempPath();
  EXPECT_EQ(config.tempPath, stored);
}

TEST_F(GlobalConfigTest, VanishedTempPathIsReplacedAndRecorded) {
  WriteUserString(L"TempPath", L"C:\\wex\\no\\such\\folder\\");
  GlobalConfig config;
  config.driveRoot = L"C:\\";
  config.InitTempPath();
  EXPECT_EQ(config.tempPath, L"C:\\Temp\\Grelmfetch\\Component\\");
  EXPECT_EQ(ReadUserString(L"TempPath"), config.tempPath);
}

// A drive that does not exist: the folder cannot be made, construction still
// ends with the computed default and one Error line.
TEST_F(GlobalConfigTest, UncreatableDefaultFolderIsLoggedOnce) {
  LogCapture capture;
  GlobalConfig config;
  config.driveRoot = L"Q:\\";
  config.InitTempPath();
  EXPECT_EQ(config.tempPath, L"Q:\\Temp\\Grelmfetch\\Component\\");
  int errors = 0;
  for (const std::string& line : capture.Lines()) {
    if (line.find("][Error][GConfig][") != std::string::npos) ++errors;
  }
  EXPECT_EQ(errors, 1);
  EXPECT_TRUE(Contains(capture.Texts(), "current temp path: [Q:\\Temp\\Grelmfetch\\Component\\]"));
}

TEST_F(GlobalConfigTest, InstallPathFollowsTheDrive) {
  GlobalConfig config;
  config.driveRoot = L"D:\\";
  config.InitInstallPath();
  EXPECT_EQ(config.installPath, L"D:\\Program Files\\Ludovane\\");
}

TEST_F(GlobalConfigTest, StoredLanguageIsUsedExactlyAndNotRewritten) {
  WriteUserString(L"UserLanguage", L"fr");
  GlobalConfig config;
  config.international = 1;
  config.InitLanguageSetting(kEnglishUs);
  EXPECT_EQ(config.language, L"fr");
  EXPECT_EQ(ReadUserString(L"UserLanguage"), L"fr");
}

struct LanguageCase {
  LANGID ui;
  const wchar_t* language;
  const wchar_t* country;
  int international;
  const char* pkgName;
  const wchar_t* expected;
};

class FirstRunLanguage : public GlobalConfigTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(FirstRunLanguage, FollowsSystemPackageAndBuildKind) {
  const LanguageCase& c = GetParam();
  GlobalConfig config;
  config.international = c.international;
  config.pkgName = c.pkgName;
  config.InitLanguageSetting(FakeLanguage(c.ui, c.language, c.country));
  EXPECT_EQ(config.language, c.expected);
  EXPECT_EQ(ReadUserString(L"UserLanguage"), c.expected);
  DWORD kvn = 0;
  EXPECT_FALSE(ReadMachineDword(L"KVNVersion", kvn))
      << "KVNVersion is only written where the machine key already exists";
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirstRunLanguage,
    ::testing::Values(
        LanguageCase{0x0804, L"en", L"US", 1, "", L"en"},   // UI Chinese (PRC)
        LanguageCase{0x0804, L"en", L"US", 0, "", L"zh_CN"},
        LanguageCase{0x0404, L"zh", L"TW", 1, "", L"zh_TW"},
        LanguageCase{0x0404, L"zh", L"TW", 0, "", L"zh_CN"},
        LanguageCase{0x0409, L"zh", L"CN", 1, "", L"en"},
        LanguageCase{0x0416, L"pt", L"BR", 1, "", L"pt"},
        LanguageCase{0x0419, L"ru", L"RU", 1, "", L"ru"},
        LanguageCase{0x041F, L"tr", L"TR", 1, "", L"tr"},
        LanguageCase{0x042A, L"vi", L"VN", 1, "", L"vi"},
        LanguageCase{0x0421, L"id", L"ID", 1, "", L"id"},
        LanguageCase{0x0412, L"ko", L"KR", 1, "", L"ko"},
        LanguageCase{0x041E, L"th", L"TH", 1, "", L"th"},
        LanguageCase{0x0411, L"ja", L"JP", 1, "", L"en"},
        LanguageCase{0x0407, L"de", L"DE", 1, "", L"en"},
        LanguageCase{0x0C04, L"zh", L"HK", 1, "", L"en"},
        LanguageCase{0x0409, L"", L"", 1, "", L"en"},
        LanguageCase{0x0409, L"en", L"US", 1, "com.korvane.arenamobile", L"vi"},
        LanguageCase{0x0409, L"en", L"US", 1, "COM.Korvane.ArenaMobile", L"vi"},
        LanguageCase{0x0409, L"en", L"US", 0, "com.korvane.arenamobile", L"zh_CN"}));

TEST_F(GlobalConfigTest, ArenaPackageMarksTheMachineKey) {
  WriteMachineDword(L"SupplyId", 1);  // the machine key exists
  GlobalConfig config;
  config.international = 1;
  config.pkgName = "com.korvane.arenamobile";
  config.InitLanguageSetting(kEnglishUs);
  DWORD kvn = 0;
  ASSERT_TRUE(ReadMachineDword(L"KVNVersion", kvn));
  EXPECT_EQ(kvn, 1u);
}

TEST_F(GlobalConfigTest, StoredSupportedCodeWinsDetectionWhenReadOnlyRead) {
  // Detection reads the stored value too; an empty stored value is not used.
  WriteUserString(L"UserLanguage", L"");
  EXPECT_EQ(GlobalConfig::DetectSystemLanguage(FakeLanguage(0x0416, L"pt", L"BR")), L"pt");
  WriteUserString(L"UserLanguage", L"KO");
  EXPECT_EQ(GlobalConfig::DetectSystemLanguage(FakeLanguage(0x0416, L"pt", L"BR")), L"KO");
}

}  // namespace
