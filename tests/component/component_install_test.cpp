// Installation through real package processes of the test kit: each package
// unpacks a real Kallup.exe, which reads the registry the run just wrote.
#include "component/component_install.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/file_system.h"
#include "base/scoped_handle.h"
#include "base/settings_key.h"
#include "base/text_convert.h"
#include "component/component_selection.h"
#include "component/install_pipeline.h"
#include "component/result_codes.h"
#include "config/global_config.h"
#include "support/install_recorders.h"
#include "support/log_capture.h"
#include "support/test_paths.h"
#include "support/testkit_package.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Built by make_package.py (the install_script_package fixture):
// component 1, package exit code 1000, Kallup version 3.1.0.0.
constexpr const wchar_t* kScriptPackage = L"C:\\wex\\testkit\\install\\script_package.exe";

void DeleteKeyTree(const wchar_t* parent, const wchar_t* name) {
  SettingsKey key;
  if (key.TryOpen(HKEY_LOCAL_MACHINE, parent, SettingsKey::kReadWrite) == ERROR_SUCCESS) {
    key.TryDeleteTree(name);
  }
}

// Every key a run may write, and the maker key the tests make volatile.
void ClearInstallKeys() {
  DeleteKeyTree(L"Software", L"Vorlenk");
  DeleteKeyTree(L"Software", L"AndroidQuib");
}

// Creates HKLM\path in the product's view; returns the registry's error.
LONG CreateKey(const wchar_t* path, bool isVolatile) {
  HKEY raw = nullptr;
  LONG result = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                                  isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                  SettingsKey::WithProductView(KEY_ALL_ACCESS), nullptr, &raw, nullptr);
  ScopedRegKey key(raw);
  return result;
}

// "InstallPath" of component `id`, or "<none>".
std::wstring RegisteredInstallPath(int32_t id) {
  SettingsKey key;
  std::wstring value = L"<none>";
  if (key.TryOpen(HKEY_LOCAL_MACHINE, FindComponentSpec(id)->registryKey, SettingsKey::kReadOnly) ==
      ERROR_SUCCESS) {
    key.TryReadString(L"InstallPath", value);
  }
  return value;
}

std::wstring CurrentFolder() {
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

struct RunOutcome {
  bool ok = false;
  int resultCode = 0;
  std::vector<RecordedEvent> events;
  std::vector<std::string> logLines;
  std::vector<std::string> logTexts;
  std::vector<std::string> observerCalls;
  size_t observerPosts = 0;
  LocalInfoMap localInfos;
  std::wstring folderAfter;  // the process's current folder when the run returned
};

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearInstallKeys();
    // A current folder that the run can return to: the one a test starts in
    // lies outside every drive of the prefix.
    originalFolder_ = CurrentFolder();
    ASSERT_TRUE(::SetCurrentDirectoryW(L"C:\\wex"));
    startFolder_ = CurrentFolder();
    UseRoot(scratch_.Path());
    config_.pkgName = "com.example.game";
  }
  void TearDown() override {
    // Failed runs leave the current folder in a download folder, which could
    // then not be removed.
    ::SetCurrentDirectoryW(startFolder_.c_str());
    ClearInstallKeys();
    RemoveFolderWhenReleased(scratch_.Path());
  }
  ~InstallTest() override { ::SetCurrentDirectoryW(originalFolder_.c_str()); }

  // Downloads and installs go below `root` from now on; the records so far
  // are forgotten.
  void UseRoot(const std::wstring& root) {
    root_ = root;
    config_.installPath = root_ + L"install\\";
    items_.clear();
  }

  std::wstring InstallFolder(int32_t id) const { return config_.installPath + L"c" + std::to_wstring(id); }

  // Appends a record for component `id` whose package behaves as
  // `behaviour` (make_package.py's description; "component" and Kallup's
  // version, id + ".0.0.1", are filled in).
  ComponentItem& AddItem(int32_t id, const std::string& behaviour = "{}") {
    ComponentItem item;
    item.id = id;
    item.name = L"pkg" + std::to_wstring(id) + L".exe";
    item.localAddPath = L"c" + std::to_wstring(id);
    item.writePathToRegKey = FindComponentSpec(id)->registryKey;
    item.downloadDir = root_ + L"download\\" + item.localAddPath + L"\\";
    std::filesystem::create_directories(std::filesystem::path(item.downloadDir));
    item.packagePath = item.downloadDir + item.name;
    nlohmann::json description = nlohmann::json::parse(behaviour);
    description["component"] = id;
    nlohmann::json& kallup = description["kallup"];
    if (!kallup.contains("version")) kallup["version"] = std::to_string(id) + ".0.0.1";
    WriteTestPackage(item.packagePath, description.dump());
    items_.push_back(item);
    return items_.back();
  }

  RunOutcome Install(InstallPipeline* prepared = nullptr) {
    RecordingInstallObserver observer;
    RecordingEventReporter events;
    std::unique_ptr<InstallPipeline> own;
    InstallPipeline* pipeline = prepared;
    if (!pipeline) {
      own = std::make_unique<InstallPipeline>(config_, observer, events);
      pipeline = own.get();
    }
    pipeline->needInstallItems = items_;
    LogCapture capture;
    RunOutcome outcome;
    outcome.ok = pipeline->InstallComponent();
    outcome.folderAfter = CurrentFolder();
    ::SetCurrentDirectoryW(startFolder_.c_str());
    outcome.resultCode = pipeline->ResultCodeValue();
    outcome.events = events.Events();
    outcome.logLines = capture.Lines();
    outcome.logTexts = capture.Texts();
    outcome.observerCalls = observer.Calls();
    outcome.observerPosts = observer.PendingCount();
    outcome.localInfos = pipeline->localInfos;
    return outcome;
  }

  ScratchFolder scratch_;
  GlobalConfig config_;
  std::wstring root_;
  std::wstring originalFolder_;
  std::wstring startFolder_;
  std::vector<ComponentItem> items_;
};

TEST_F(InstallTest, TwoComponentsInstallInOrder) {
  AddItem(7);
  AddItem(1);
  RunOutcome run = Install();
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.resultCode, kResultSuccess);
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{301, 0, 7, 0}, {303, 0, 7, 0},
                                                    {301, 0, 1, 0}, {303, 0, 1, 0}}));
  EXPECT_EQ(run.observerCalls.size() + run.observerPosts, 0u) << "the caller notifies";
  EXPECT_EQ(run.folderAfter, startFolder_) << "current folder restored after each component";
  for (int32_t id : {7, 1}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(RegisteredInstallPath(id), InstallFolder(id));
    EXPECT_EQ(run.localInfos[id].installPath, InstallFolder(id));
    ComponentLocalInfo detected;
    DetectComponentState(id, detected);
    EXPECT_TRUE(detected.installed) << "Kallup found the folder and wrote markers and version";
    EXPECT_EQ(detected.versionText, std::to_wstring(id) + L".0.0.1");
    EXPECT_EQ(ReadFileBytes(InstallFolder(id) + L"\\kallup_args.txt"), "") << "pkgName is set";
    EXPECT_TRUE(FileExists(root_ + L"download\\c" + std::to_wstring(id) + L"\\Setup\\Kallup.exe"));
  }
  EXPECT_THAT(run.logTexts, Contains("install component pkg7.exe Result[0]"));
  EXPECT_THAT(run.logTexts, Contains("install component pkg7.exe installer [Kallup] Result[0]"));
  EXPECT_THAT(run.logTexts, Contains("install component pkg1.exe installer [Kallup] Result[0]"));
  EXPECT_EQ(run.logTexts.back(), "component install success");
}

// The package from make_package.py exits with 1000, which means unpacked.
TEST_F(InstallTest, PackageBuiltByScriptExiting1000CountsAsSuccess) {
  ComponentItem item;
  item.id = 1;
  item.name = L"script_package.exe";
  item.localAddPath = L"c1";
  item.writePathToRegKey = FindComponentSpec(1)->registryKey;
  item.downloadDir = root_ + L"download\\c1\\";
  std::filesystem::create_directories(std::filesystem::path(item.downloadDir));
  item.packagePath = item.downloadDir + item.name;
  ASSERT_TRUE(::CopyFileW(kScriptPackage, item.packagePath.c_str(), FALSE))
      << "run through ctest: the install_script_package fixture builds it";
  items_.push_back(item);
  RunOutcome run = Install();
  ASSERT_TRUE(run.ok);
  EXPECT_THAT(run.logTexts, Contains("install component script_package.exe Result[0]"));
  ComponentLocalInfo detected;
  DetectComponentState(1, detected);
  EXPECT_TRUE(detected.installed);
  EXPECT_EQ(detected.versionText, L"3.1.0.0");
}

TEST_F(InstallTest, NoDesktopIconOnlyForAppStoreWithoutGameOrIcon) {
  struct {
    const char* pkgName;
    bool createMarketIcon;
    const char* expected;
  } cases[] = {
      {"", false, "-nodesktopIcon"},
      {"", true, ""},
      {"com.example.game", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("pkgName '") + c.pkgName + "' createMarketIcon " +
                 (c.createMarketIcon ? "true" : "false"));
    ScratchFolder row;
    UseRoot(row.Path());
    ClearInstallKeys();
    config_.pkgName = c.pkgName;
    config_.createMarketIcon = c.createMarketIcon;
    AddItem(7);
    AddItem(1);
    RunOutcome run = Install();
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(ReadFileBytes(InstallFolder(7) + L"\\kallup_args.txt"), c.expected);
    EXPECT_EQ(ReadFileBytes(InstallFolder(1) + L"\\kallup_args.txt"), "") << "never for others";
    RemoveFolderWhenReleased(row.Path());
  }
}

// Each failure stops at component 7: event 302 names it, component 1 is
// never touched.
TEST_F(InstallTest, FailuresStopAtTheFailingComponent) {
  struct {
    const char* label;
    const char* behaviour;
    bool removePackage;
    int code;
    std::string logText;  // "%S" stands for the Setup folder
  } cases[] = {
      {"package exits 5", R"({"exitCode": 5})", false, kResultPackageRun,
       "install component pkg7.exe Result[5]"},
      {"package cannot start", "{}", true, kResultPackageRun, "install component pkg7.exe Result[-1]"},
      {"nothing unpacked", R"({"unpack": false})", false, kResultInvalidPackage,
       "%SKallup.exe don't exist!"},
      {"Kallup exits 1000", R"({"kallup": {"exitCode": 1000}})", false, kResultInstallFailed,
       "install component pkg7.exe installer [Kallup] Result[1000]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder row;
    UseRoot(row.Path());
    ClearInstallKeys();
    ComponentItem& failing = AddItem(7, c.behaviour);
    const std::wstring setupFolder = failing.downloadDir + L"Setup\\";
    if (c.removePackage) {
      ASSERT_TRUE(::DeleteFileW(failing.packagePath.c_str()));
    }
    AddItem(1);
    RunOutcome run = Install();
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.resultCode, c.code);
    EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{301, 0, 7, 0}, {302, c.code, 7, 0}}));
    std::string expectedText = c.logText;
    if (size_t at = expectedText.find("%S"); at != std::string::npos) {
      expectedText.replace(at, 2, WideToUtf8(setupFolder));
    }
    EXPECT_THAT(run.logTexts, Contains(expectedText));
    EXPECT_EQ(run.logTexts.back(), "component install failed.");
    EXPECT_EQ(RegisteredInstallPath(7), InstallFolder(7)) << "written before the package runs";
    EXPECT_EQ(RegisteredInstallPath(1), L"<none>");
    EXPECT_FALSE(FileExists(root_ + L"download\\c1\\Setup"));
    if (c.code == kResultInvalidPackage) {
      EXPECT_THAT(run.logLines, Contains(HasSubstr("[Error][component]")));
    }
    RemoveFolderWhenReleased(row.Path());
  }
}

TEST_F(InstallTest, StaleSetupFolderIsDeletedBeforeThePackageRuns) {
  ComponentItem& item = AddItem(7);
  const std::wstring setupFolder = item.downloadDir + L"Setup\\";
  std::filesystem::create_directories(std::filesystem::path(setupFolder + L"old"));
  WriteFileBytes(setupFolder + L"stale.txt", "stale");
  WriteFileBytes(setupFolder + L"old\\stale.bin", "stale");
  RunOutcome run = Install();
  ASSERT_TRUE(run.ok);
  EXPECT_FALSE(FileExists(setupFolder + L"stale.txt"));
  EXPECT_FALSE(FileExists(setupFolder + L"old"));
  EXPECT_TRUE(FileExists(setupFolder + L"Kallup.exe"));
}

TEST_F(InstallTest, UndeletableSetupFolderStopsBeforeThePackage) {
  ComponentItem& item = AddItem(7);
  const std::wstring setupFolder = item.downloadDir + L"Setup\\";
  ::CreateDirectoryW(setupFolder.c_str(), nullptr);
  const std::wstring held = setupFolder + L"held.bin";
  ScopedHandle holder(::CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);
  RunOutcome run = Install();
  holder.Reset();
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.resultCode, kResultSetupDelete);
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{301, 0, 7, 0}, {302, kResultSetupDelete, 7, 0}}));
  const std::regex warn(".*\\[Warn\\]\\[Component\\].* delete " +
                        std::regex_replace(WideToUtf8(setupFolder), std::regex(R"([\\.\[\]])"), R"(\$&)") +
                        " failed\\. error code: \\d+$");
  bool found = false;
  for (const std::string& line : run.logLines) found = found || std::regex_match(line, warn);
  EXPECT_TRUE(found);
  EXPECT_FALSE(FileExists(setupFolder + L"Kallup.exe")) << "the package did not run";
}

// A volatile product key: component 7's key cannot be created below it, the
// tree is removed, and component 1 gets a stable key; the run succeeds.
TEST_F(InstallTest, VolatileProductKeyIsRepaired) {
  ASSERT_EQ(CreateKey(L"Software\\Vorlenk", false), ERROR_SUCCESS);
  ASSERT_EQ(CreateKey(L"Software\\Vorlenk\\Pardomix", true), ERROR_SUCCESS);
  ASSERT_EQ(CreateKey(L"Software\\Vorlenk\\Pardomix\\Probe", false), ERROR_CHILD_MUST_BE_VOLATILE)
      << "this registry lets a stable key live below a volatile one";
  // Component 7 has no key this run: its Kallup finds no "InstallPath".
  AddItem(7, R"({"kallup": {"missingPathExit": 0}})");
  AddItem(1);
  RunOutcome run = Install();
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{301, 0, 7, 0}, {303, 0, 7, 0},
                                                    {301, 0, 1, 0}, {303, 0, 1, 0}}));
  EXPECT_EQ(RegisteredInstallPath(7), L"<none>");
  EXPECT_EQ(run.localInfos[7].installPath, InstallFolder(7)) << "recorded all the same";
  EXPECT_EQ(RegisteredInstallPath(1), InstallFolder(1));
  EXPECT_EQ(CreateKey(L"Software\\Vorlenk\\Pardomix\\Probe", false), ERROR_SUCCESS)
      << "the product key is stable now";
}

// The maker key itself is volatile: the product key cannot be created (17),
// every component still installs, and the run ends failed.
TEST_F(InstallTest, UncreatableProductKeyFailsTheRunAfterInstalling) {
  ASSERT_EQ(CreateKey(L"Software\\Vorlenk", true), ERROR_SUCCESS);
  AddItem(7, R"({"kallup": {"missingPathExit": 0}})");
  AddItem(1);
  RunOutcome run = Install();
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.resultCode, kResultRegAccess);
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{301, 0, 7, 0}, {303, 0, 7, 0}, {301, 0, 1, 0},
                                                    {303, 0, 1, 0}, {302, kResultRegAccess, 1, 0}}));
  EXPECT_THAT(run.logTexts,
              Contains("create Software\\Vorlenk\\Pardomix reg path failed. error code: 1021"));
  EXPECT_EQ(run.logTexts.back(), "component install failed.");
  EXPECT_EQ(RegisteredInstallPath(1), InstallFolder(1)) << "the maker tree was rebuilt stable";
  EXPECT_EQ(CreateKey(L"Software\\Vorlenk\\Probe", false), ERROR_SUCCESS);
}

TEST_F(InstallTest, UncreatableComponentKeyStops) {
  ComponentItem& item = AddItem(7);
  // A name part longer than the registry allows.
  item.writePathToRegKey = L"Software\\Vorlenk\\" + std::wstring(300, L'k');
  AddItem(1);
  RunOutcome run = Install();
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.resultCode, kResultRegAccess);
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{301, 0, 7, 0}, {302, kResultRegAccess, 7, 0}}));
  const std::string prefix = "create " + WideToUtf8(items_[0].writePathToRegKey) +
                             " reg path failed. error code: ";
  bool found = false;
  for (const std::string& text : run.logTexts) {
    found = found || (text.rfind(prefix, 0) == 0 && text.size() > prefix.size() && text != prefix + "0");
  }
  EXPECT_TRUE(found);
  EXPECT_FALSE(FileExists(items_[0].downloadDir + L"Setup")) << "the package did not run";
}

TEST_F(InstallTest, InstallFolderThatCannotBeMadeThrows) {
  AddItem(7);
  std::filesystem::create_directories(std::filesystem::path(config_.installPath));
  WriteFileBytes(InstallFolder(7), "a file in the way");
  RecordingInstallObserver observer;
  RecordingEventReporter events;
  InstallPipeline pipeline(config_, observer, events);
  pipeline.needInstallItems = items_;
  EXPECT_THROW(pipeline.InstallComponent(), std::filesystem::filesystem_error);
  ::SetCurrentDirectoryW(startFolder_.c_str());
}

TEST_F(InstallTest, CancelledRunInstallsNothing) {
  AddItem(7);
  RecordingInstallObserver observer;
  RecordingEventReporter events;
  InstallPipeline pipeline(config_, observer, events);
  pipeline.DetachAndWait();
  RunOutcome run = Install(&pipeline);
  EXPECT_FALSE(run.ok);
  EXPECT_TRUE(events.Events().empty());
  EXPECT_FALSE(FileExists(items_[0].downloadDir + L"Setup"));
  EXPECT_EQ(RegisteredInstallPath(7), L"<none>");
}

}  // namespace
