#include "component/component_selection.h"

#include <gtest/gtest.h>

#include "base/settings_key.h"
#include "config/global_config.h"
#include "support/log_capture.h"
#include "support/test_paths.h"

namespace {

void DeleteComponentKeys() {
  for (const ComponentSpec& component : ComponentTable()) {
    std::wstring path = component.registryKey;
    size_t cut = path.find_last_of(L'\\');
    SettingsKey parent;
    if (parent.TryOpen(HKEY_LOCAL_MACHINE, path.substr(0, cut).c_str(), SettingsKey::kReadWrite) == 0) {
      parent.TryDeleteTree(path.substr(cut + 1).c_str());
    }
  }
}

class SelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteComponentKeys();
    config_.installMarket = false;
  }
  void TearDown() override { DeleteComponentKeys(); }

  // Registers component `id` as installed in `folder`, with its marker files
  // (all, or all but the last when `missingMarker`).
  void Install(int32_t id, const std::wstring& folder, const wchar_t* version,
               bool missingMarker = false) {
    const ComponentSpec* component = FindComponentSpec(id);
    ASSERT_NE(component, nullptr);
    SettingsKey key;
    ASSERT_EQ(key.TryCreate(HKEY_LOCAL_MACHINE, component->registryKey), ERROR_SUCCESS);
    ASSERT_EQ(key.TryWriteString(L"InstallPath", folder.c_str()), ERROR_SUCCESS);
    if (version) {
      ASSERT_EQ(key.TryWriteString(L"Version", version), ERROR_SUCCESS);
    }
    std::wstring base = folder.back() == L'\\' ? folder : folder + L'\\';
    ::CreateDirectoryW(base.c_str(), nullptr);
    size_t count = component->markerFiles.size() - (missingMarker ? 1 : 0);
    for (size_t i = 0; i < count; ++i) WriteFileBytes(base + component->markerFiles[i], "m");
  }

  GlobalConfig config_;
  ScratchFolder scratch_;
};

TEST_F(SelectionTest, TableOrderIsTheInstallationOrder) {
  std::vector<int32_t> ids;
  for (const ComponentSpec& component : ComponentTable()) ids.push_back(component.id);
  EXPECT_EQ(ids, (std::vector<int32_t>{7, 1, 3, 8, 10, 2}));
}

TEST_F(SelectionTest, DetectionNeedsKeyPathMarkersAndVersion) {
  config_.installMarket = config_.installUI = config_.installVDI = config_.installVDI71 =
      config_.installRootfs = config_.installQuib = true;
  std::wstring root = scratch_.Path();
  Install(7, root + L"market", L"1.0.0.1");                  // no trailing backslash
  Install(1, root + L"ui\\", L"2.0.0.1");                    // trailing backslash
  Install(3, root + L"vdi", nullptr);                        // no "Version"
  Install(10, root + L"rootfs", L"1.0.0.0", /*missingMarker=*/true);
  // 8 shares the markers of 3 but not its key: not installed.
  LogCapture capture;
  LocalInfoMap infos;
  GetNeedInstallComponentLocalInfo(config_, infos);
  EXPECT_TRUE(infos[7].installed);
  EXPECT_EQ(infos[7].versionText, L"1.0.0.1");
  EXPECT_EQ(infos[7].installPath, root + L"market");
  EXPECT_TRUE(infos[1].installed);
  EXPECT_FALSE(infos[3].installed);
  EXPECT_FALSE(infos[8].installed);
  EXPECT_FALSE(infos[10].installed);
  EXPECT_FALSE(infos[2].installed);
  EXPECT_FALSE(AreAllComponentsInstalled(infos));
  auto texts = capture.Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], "get component id: 7 installed: true");
  EXPECT_EQ(texts[1], "version :1.0.0.1 path: " + std::string(root.begin(), root.end()) + "market");
  EXPECT_EQ(texts[2], "get component id: 1 installed: true");
}

TEST_F(SelectionTest, NoSwitchOnMeansNothingToInstall) {
  LocalInfoMap infos;
  GetNeedInstallComponentLocalInfo(config_, infos);
  EXPECT_TRUE(infos.empty());
  EXPECT_TRUE(AreAllComponentsInstalled(infos));
}

TEST_F(SelectionTest, ChannelRecordReplacesGeneralRecordAsAWhole) {
  config_.installMarket = config_.installUI = config_.installQuib = true;
  ComponentCatalogue catalogue(5);
  std::wstring path = scratch_.File(L"c.xml");
  WriteFileBytes(path,
                 "<r><Item id=\"7\" url=\"general7\" hash=\"h7\" DL_ID=\"1\" filesize=\"1\"/>"
                 "<Item id=\"1\" url=\"general1\" hash=\"h1\" DL_ID=\"1\" filesize=\"1\"/>"
                 "<other><OtherConfig><ChannelComponents ChannelRange=\"5\">"
                 "<Item id=\"1\" url=\"channel1\" DL_ID=\"1\" filesize=\"1\"/>"
                 "</ChannelComponents></OtherConfig></other></r>");
  int code = 0;
  ASSERT_TRUE(catalogue.ParseComponentXml(path, &code));
  LogCapture capture;
  std::vector<ComponentItem> items = GetNeedInstallComponentItems(config_, catalogue);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].url, L"general7");
  EXPECT_EQ(items[1].url, L"channel1");
  EXPECT_EQ(items[1].hash, L"") << "fields are never merged";
  EXPECT_EQ(items[2].id, -1) << "undescribed component: default record";
  EXPECT_EQ(catalogue.CatalogueItems().count(2), 1u);
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"need install component: 7",
                                                       "need install component: 1",
                                                       "need install component: 2"}));
}

TEST(SafeRelativePath, RefusesWhatLeavesTheRoot) {
  struct {
    const wchar_t* path;
    bool safe;
  } cases[] = {
      {L"", true},          {L"Vendrix", true},      {L"a\\b", true},       {L"setup.exe", true},
      {L"a.b\\c..d", true}, {L"..", false},          {L"a\\..\\b", false},  {L"..\\x", false},
      {L"C:\\x", false},    {L"C:x", false},         {L"\\x", false},       {L"\\\\srv\\s", false},
      {L"/etc", false},     {L"a/../b", false},      {L"x:stream", false},  {L"... \\x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeRelativePath(c.path), c.safe) << c.path;
}

}  // namespace
