// Whole runs against the test kit's fixture server and real package programs.
#include "component/install_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "base/file_hash.h"
#include "base/file_system.h"
#include "base/settings_key.h"
#include "base/text_convert.h"
#include "component/result_codes.h"
#include "config/global_config.h"
#include "support/fixture_server_client.h"
#include "support/install_recorders.h"
#include "support/log_capture.h"
#include "support/test_paths.h"
#include "support/testkit_package.h"

namespace {

void DeletePlatformKeys() {
  SettingsKey vorlenk;
  if (vorlenk.TryOpen(HKEY_LOCAL_MACHINE, L"Software\\Vorlenk", SettingsKey::kReadWrite) == 0) {
    vorlenk.TryDeleteTree(L"Pardomix");
  }
}

struct CatalogueItem {
  int id;
  std::string name;
  std::string localAddPath;
  std::string extraAttributes;  // written as they stand
};

class InstallPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(FixtureServerPorts().http, 0) << "no fixture server: run through ctest";
    DeletePlatformKeys();
    // A site of this test's own: its catalogue, packages and listeners.
    siteName_ = WideToUtf8(UniqueTestName());
    siteFolder_ = std::wstring(kFixtureStateDir) + L"sites\\" + Utf8ToWide(siteName_) + L"\\";
    RemoveFolderWhenReleased(siteFolder_);
    ::CreateDirectoryW((std::wstring(kFixtureStateDir) + L"sites").c_str(), nullptr);
    for (const wchar_t* sub : {L"", L"pkg", L"downloads", L"downloads\\xml", L"open",
                               L"open\\qrmt", L"open\\qrmt\\xml"}) {
      ::CreateDirectoryW((siteFolder_ + sub).c_str(), nullptr);
    }
    ports_ = StartFixtureSite("sites/" + siteName_);
    ASSERT_NE(ports_.http, 0);
    config_.tempPath = scratch_.Path() + L"download\\";
    config_.installPath = scratch_.Path() + L"install\\";
    config_.installMarket = true;
    config_.installUI = true;
  }
  void TearDown() override {
    if (savedTmp_) ::SetEnvironmentVariableW(L"TMP", savedTmp_->empty() ? nullptr : savedTmp_->c_str());
    DeletePlatformKeys();
    RemoveFolderWhenReleased(scratch_.Path());
  }

  CatalogueLocations Locations() const {
    return {"https://127.0.0.1:" + std::to_string(ports_.https) + "/downloads/xml/compoment.xml",
            "https://127.0.0.1:" + std::to_string(ports_.fallbackHttps) +
                "/open/qrmt/xml/compoment.xml"};
  }

  // Points the process's temporary folder (TMP) at `folder` until TearDown.
  void RedirectTempFolder(const std::wstring& folder) {
    wchar_t old[MAX_PATH + 1] = {};
    if (!savedTmp_) savedTmp_ = std::wstring(old, ::GetEnvironmentVariableW(L"TMP", old, MAX_PATH + 1));
    ::SetEnvironmentVariableW(L"TMP", folder.c_str());
  }

  // A package of the test kit for `component`, published under pkg/.
  void Publish(const std::string& name, const std::string& behaviour) {
    WriteTestPackage(siteFolder_ + L"pkg\\" + Utf8ToWide(name), behaviour);
  }

  std::string Catalogue(const std::vector<CatalogueItem>& items) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ComponentList>";
    for (const CatalogueItem& item : items) {
      std::wstring file = siteFolder_ + L"pkg\\" + Utf8ToWide(item.name);
      const ComponentSpec* component = FindComponentSpec(item.id);
      std::string key = component ? WideToUtf8(component->registryKey) : "";
      xml += "<Item id=\"" + std::to_string(item.id) + "\" name=\"" + item.name +
             "\" localaddpath=\"" + item.localAddPath + "\" writePathToRegKey=\"" + key +
             "\" DL_ID=\"1\" hash=\"" + GetFileHexMd5(file) + "\" filesize=\"1\" url=\"http://127.0.0.1:" +
             std::to_string(ports_.http) + "/pkg/" + item.name + "\" version=\"1.0.0.1\" " +
             item.extraAttributes + "/>";
    }
    return xml + "</ComponentList>";
  }
  // Which locations carry the catalogue: primary, fallback, or both.
  void WriteCatalogue(const std::string& xml, bool primary, bool fallback) {
    if (primary) WriteFileBytes(siteFolder_ + L"downloads\\xml\\compoment.xml", xml);
    if (fallback) WriteFileBytes(siteFolder_ + L"open\\qrmt\\xml\\compoment.xml", xml);
  }
  void PublishStandardPackages() {
    Publish("Vendrix_setup.exe", R"({"component": 7})");
    Publish("Emulator_setup.exe", R"({"component": 1, "exitCode": 1000})");
  }
  std::string StandardCatalogue() {
    return Catalogue({{7, "Vendrix_setup.exe", "Vendrix", ""}, {1, "Emulator_setup.exe", "UI", ""}});
  }

  // One whole run on this thread; the posted UI tasks are then run too.
  void Run(InstallPipeline& pipeline) {
    pipeline.DoInstallComponent();
    observer_.RunPosted();
  }

  std::vector<int> EventCodes() const {
    std::vector<int> codes;
    for (const RecordedEvent& e : events_.Events()) codes.push_back(e.code);
    return codes;
  }
  long Count(const std::string& call) const {
    auto calls = observer_.Calls();
    return std::count(calls.begin(), calls.end(), call);
  }

  ScratchFolder scratch_;
  GlobalConfig config_;
  RecordingInstallObserver observer_;
  RecordingEventReporter events_;
  FixturePorts ports_;
  std::string siteName_;
  std::wstring siteFolder_;
  std::optional<std::wstring> savedTmp_;
};

TEST_F(InstallPipelineTest, WholeRunFromFallbackCatalogueToInstalledComponents) {
  PublishStandardPackages();
  WriteCatalogue(StandardCatalogue(), /*primary=*/false, /*fallback=*/true);
  LogCapture capture;
  InstallPipeline pipeline(config_, observer_, events_, Locations());
  Run(pipeline);

  EXPECT_EQ(pipeline.InstallStateValue(), kInstallCompleted);
  EXPECT_EQ(pipeline.ResultCodeValue(), 0);
  EXPECT_EQ(EventCodes(),
            (std::vector<int>{100, 102, 200, 201, 203, 201, 203, 204, 300, 301, 303, 301, 303, 304}));
  EXPECT_EQ(events_.Events()[3], (RecordedEvent{201, 0, 7, 0}));
  EXPECT_EQ(events_.Events()[5], (RecordedEvent{201, 0, 1, 0}));
  EXPECT_EQ(Count("complete"), 1);
  EXPECT_EQ(Count("failed"), 0);
  auto calls = observer_.Calls();
  auto firstProgress = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
    return call.rfind("progress", 0) == 0;
  });
  ASSERT_NE(firstProgress, calls.end());
  EXPECT_EQ(*firstProgress, "progress 0") << "each downloaded package starts at zero";
  EXPECT_EQ(Count("progress 100"), 2);
  EXPECT_EQ(Count("progress complete"), 1);
  EXPECT_EQ(Count("start animation"), 1);
  EXPECT_EQ(Count("stop animation"), 1);

  SettingsKey key;
  std::wstring installPath;
  ASSERT_EQ(key.TryOpen(HKEY_LOCAL_MACHINE, L"Software\\Vorlenk\\Pardomix\\UI", SettingsKey::kReadOnly), 0);
  ASSERT_EQ(key.TryReadString(L"InstallPath", installPath), 0);
  EXPECT_EQ(installPath, config_.installPath + L"UI");
  EXPECT_TRUE(FileExists(installPath + L"\\corlink.exe"));
  EXPECT_EQ(pipeline.localInfos[1].installPath, installPath);

  auto texts = capture.Texts();
  long primaryErrors = std::count_if(texts.begin(), texts.end(), [](const std::string& t) {
    return t.rfind("download component file use https://127.0.0.1:", 0) == 0 &&
           t.find("/downloads/xml/compoment.xml failed. http code: 404 error code: ") != std::string::npos;
  });
  EXPECT_EQ(primaryErrors, 1);

  // A second run finds both packages verified in their folders.
  RecordingEventReporter again;
  RecordingInstallObserver quiet;
  InstallPipeline second(config_, quiet, again, Locations());
  second.DoInstallComponent();
  std::vector<int> codes;
  for (const RecordedEvent& e : again.Events()) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int>{100, 102, 200, 204, 300, 301, 303, 301, 303, 304}));
}

struct FailureCase {
  const char* name;
  // Prepares the site; returns nothing. `t` is the running test.
  void (*prepare)(InstallPipelineTest& t);
  std::vector<int> events;
  int resultCode;
  const char* logText;  // a line the run must log (prefix)
};

class PipelineFailures : public InstallPipelineTest,
                         public ::testing::WithParamInterface<FailureCase> {
 public:
  using InstallPipelineTest::Catalogue;
  using InstallPipelineTest::Publish;
  using InstallPipelineTest::PublishStandardPackages;
  using InstallPipelineTest::StandardCatalogue;
  using InstallPipelineTest::WriteCatalogue;
  int HttpPort() const { return ports_.http; }
  GlobalConfig& Config() { return config_; }
  void BlockTemporaryFolder() {
    std::wstring temp = scratch_.Path() + L"tmp\\";
    ::CreateDirectoryW(temp.c_str(), nullptr);
    WriteFileBytes(temp + L"WexDownload", "not a folder");
    RedirectTempFolder(temp);
  }
};

TEST_P(PipelineFailures, EndInOneFailureWithItsCode) {
  const FailureCase& c = GetParam();
  c.prepare(*this);
  LogCapture capture;
  InstallPipeline pipeline(config_, observer_, events_, Locations());
  Run(pipeline);
  EXPECT_EQ(pipeline.InstallStateValue(), kInstallFailed);
  EXPECT_EQ(pipeline.ResultCodeValue(), c.resultCode);
  EXPECT_EQ(EventCodes(), c.events);
  EXPECT_EQ(Count("failed"), 1);
  EXPECT_EQ(Count("complete"), 0);
  auto texts = capture.Texts();
  bool logged = std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.rfind(c.logText, 0) == 0;
  });
  EXPECT_TRUE(logged) << "missing log line: " << c.logText;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PipelineFailures,
    ::testing::Values(
        FailureCase{"NoCatalogue", [](InstallPipelineTest&) {}, {100, 101}, 2,
                    "stop install by download component xml error."},
        // A file where the catalogue's temporary folder belongs.
        FailureCase{"NoTemporaryCatalogueFile",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.PublishStandardPackages();
                      f.WriteCatalogue(f.StandardCatalogue(), true, true);
                      f.BlockTemporaryFolder();
                    },
                    {100, 101}, 18, "get temp file failed. Error code: "},
        FailureCase{"NotXml",
                    [](InstallPipelineTest& t) {
                      static_cast<PipelineFailures&>(t).WriteCatalogue("<<not xml", true, true);
                    },
                    {100, 102, 101}, 3, "stop install by parse component xml error."},
        FailureCase{"MalformedNumber",
                    [](InstallPipelineTest& t) {
                      static_cast<PipelineFailures&>(t).WriteCatalogue(
                          "<r><Item id=\"x\" DL_ID=\"1\" filesize=\"1\"/></r>", true, true);
                    },
                    {100, 102, 101}, 3, "invalid stoull argument"},
        FailureCase{"UndescribedComponent",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.Publish("Vendrix_setup.exe", R"({"component": 7})");
                      f.WriteCatalogue(f.Catalogue({{7, "Vendrix_setup.exe", "Vendrix", ""}}), true, true);
                    },
                    {100, 102, 101}, 3, "component id: 1 is not in the component xml."},
        FailureCase{"UnsafePath",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.PublishStandardPackages();
                      f.WriteCatalogue(f.Catalogue({{7, "Vendrix_setup.exe", "..\\..\\Windows", ""},
                                                    {1, "Emulator_setup.exe", "UI", ""}}),
                                       true, true);
                    },
                    {100, 102, 101}, 3, "component id: 7 has an unsafe path."},
        FailureCase{"Md5Mismatch",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.PublishStandardPackages();
                      std::string xml = f.StandardCatalogue();
                      size_t at = xml.find("hash=\"") + 6;
                      xml.replace(at, 32, std::string(32, '0'));
                      f.WriteCatalogue(xml, true, true);
                    },
                    {100, 102, 200, 201, 203, 202}, 20,
                    "local component file md5 check failed. local md5: "},
        FailureCase{"DroppedDownload",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.PublishStandardPackages();
                      f.WriteCatalogue(f.StandardCatalogue(), true, true);
                      SetFixtureFault("127.0.0.1:" + std::to_string(f.HttpPort()) + "/pkg/Vendrix_setup.exe",
                                      {{"dropAfter", 1000}});
                    },
                    {100, 102, 200, 201, 202}, 11, "download component: Vendrix_setup.exe failed. error type: 11"},
        FailureCase{"DownloadFolderCannotBeMade",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.PublishStandardPackages();
                      f.WriteCatalogue(f.StandardCatalogue(), true, true);
                      f.Config().tempPath = L"Q:\\Temp\\Grelmfetch\\Component\\";  // no such drive
                    },
                    {100, 102, 200}, 1, "unknown exception occurred at installing progress."},
        FailureCase{"PackageFails",
                    [](InstallPipelineTest& t) {
                      auto& f = static_cast<PipelineFailures&>(t);
                      f.Publish("Vendrix_setup.exe", R"({"component": 7, "exitCode": 5})");
                      f.Publish("Emulator_setup.exe", R"({"component": 1})");
                      f.WriteCatalogue(f.StandardCatalogue(), true, true);
                    },
                    {100, 102, 200, 201, 203, 201, 203, 204, 300, 301, 302}, 14,
                    "stop install by install error."}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(InstallPipelineTest, DroppedDownloadReportsTypeAndComponent) {
  PublishStandardPackages();
  WriteCatalogue(StandardCatalogue(), true, true);
  SetFixtureFault("127.0.0.1:" + std::to_string(ports_.http) + "/pkg/Vendrix_setup.exe",
                  {{"dropAfter", 1000}});
  InstallPipeline pipeline(config_, observer_, events_, Locations());
  Run(pipeline);
  RecordedEvent failed = events_.Events().back();
  EXPECT_EQ(failed.code, 202);
  EXPECT_EQ(failed.detail1, 11);
  EXPECT_EQ(failed.detail2, 7);
  EXPECT_NE(failed.detail3, 0);
}

// The window goes away mid-download: the run stops at its next chunk and
// never calls the observer again; the destroyer waits for it.
TEST_F(InstallPipelineTest, DetachStopsARunningDownload) {
  PublishStandardPackages();
  WriteCatalogue(StandardCatalogue(), true, true);
  SetFixtureFault("127.0.0.1:" + std::to_string(ports_.http) + "/pkg/Vendrix_setup.exe",
                  {{"chunkSize", 4096}, {"chunkDelay", 0.2}});
  auto pipeline = std::make_unique<InstallPipeline>(config_, observer_, events_, Locations());
  std::thread run([&] { pipeline->DoInstallComponent(); });
  DWORD start = ::GetTickCount();
  auto downloadStarted = [&] {
    std::vector<RecordedEvent> events = events_.Events();  // a snapshot: the run adds to them
    return std::any_of(events.begin(), events.end(), [](const RecordedEvent& e) { return e.code == 201; });
  };
  while (!downloadStarted() && ::GetTickCount() - start < 30000) ::Sleep(20);
  EXPECT_TRUE(downloadStarted()) << "the package download never started";
  pipeline->DetachAndWait();
  size_t eventsAtDetach = events_.Events().size();
  run.join();
  pipeline.reset();
  EXPECT_EQ(events_.Events().size(), eventsAtDetach);
  EXPECT_EQ(Count("failed"), 0);
  EXPECT_EQ(Count("complete"), 0);
  EXPECT_LT(::GetTickCount() - start, 20000u) << "the download must stop well before its end";
}

}  // namespace
