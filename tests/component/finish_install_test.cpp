// The finishing steps against the test kit's Vendrix.exe (a real child that
// records its command line) and real shell links on the prefix's desktop.
#include "component/finish_install.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/file_system.h"
#include "base/scoped_handle.h"
#include "base/settings_key.h"
#include "base/text_convert.h"
#include "component/component_selection.h"
#include "config/global_config.h"
#include "support/log_capture.h"
#include "support/test_paths.h"
#include "support/testkit_package.h"

namespace {

using ::testing::Contains;

// res/game.ico, copied into the prefix when the build is configured.
constexpr const wchar_t* kGameIconCopy = L"C:\\wex\\testkit\\game.ico";
constexpr const wchar_t* kShortcutNames[] = {L"Example.lnk", L"Fenwyx.lnk", L"Ruvenna.lnk"};

std::wstring DesktopFolder() {
  wchar_t desktop[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, TRUE);
  return desktop;
}

void DeleteAppStoreKey() {
  SettingsKey parent;
  if (parent.TryOpen(HKEY_LOCAL_MACHINE, L"Software\\Vorlenk\\Pardomix", SettingsKey::kReadWrite) ==
      ERROR_SUCCESS) {
    parent.TryDeleteTree(L"Vendrix");
  }
}

struct ShortcutFields {
  bool loaded = false;
  std::wstring target, arguments, description, iconPath;
  int iconIndex = -1;
};

// Reads a shell link back through IShellLinkW, on a thread of its own so
// that the caller's COM state is left alone.
ShortcutFields ReadShortcut(const std::wstring& path) {
  ShortcutFields fields;
  std::thread reader([&] {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
    {
      ScopedComPtr<IShellLinkW> link;
      ScopedComPtr<IPersistFile> file;
      if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, link.ReceiveVoid())) &&
          SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) &&
          SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t text[1024];
        link->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
        fields.target = text;
        link->GetArguments(text, 1024);
        fields.arguments = text;
        link->GetDescription(text, 1024);
        fields.description = text;
        link->GetIconLocation(text, 1024, &fields.iconIndex);
        fields.iconPath = text;
        fields.loaded = true;
      }
    }
    ::CoUninitialize();
  });
  reader.join();
  return fields;
}

class FinishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteShortcuts();
    DeleteAppStoreKey();
    appStore_ = scratch_.Path() + L"Vendrix";  // as the install step records it: no separator
    ASSERT_TRUE(::CreateDirectoryW(appStore_.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(TestkitProgramPath(L"Vendrix.exe").c_str(), AppStoreProgram().c_str(),
                            FALSE));
    WriteFileBytes(appStore_ + L"\\Quorl.dll", "marker");
    SettingsKey key;
    ASSERT_EQ(key.TryCreate(HKEY_LOCAL_MACHINE, FindComponentSpec(7)->registryKey), ERROR_SUCCESS);
    key.TryWriteString(L"InstallPath", appStore_.c_str());
    key.TryWriteString(L"Version", L"1.0.0.1");
    localInfos_[7].installPath = appStore_;
    config_.supplyid = 1001;
  }
  void TearDown() override {
    DeleteShortcuts();
    DeleteAppStoreKey();
    RemoveFolderWhenReleased(scratch_.Path());  // Vendrix.exe may still be ending
  }

  void DeleteShortcuts() {
    for (const wchar_t* name : kShortcutNames) ::DeleteFileW(Shortcut(name).c_str());
  }
  std::wstring Shortcut(const std::wstring& name) const { return DesktopFolder() + L"\\" + name; }
  std::wstring AppStoreProgram() const { return appStore_ + L"\\Vendrix.exe"; }

  // The parameters Vendrix.exe was started with: its recorded command line
  // after the quoted program and the one blank the shell puts after it.
  // Waits for the record (the launch is not waited for) and removes it.
  std::string LaunchParameters() {
    const std::wstring record = appStore_ + L"\\vendrix_cmdline.txt";
    for (int i = 0; i < 400 && !FileExists(record); ++i) ::Sleep(50);
    std::string line = ReadFileBytes(record);
    ::DeleteFileW(record.c_str());
    EXPECT_FALSE(line.empty()) << "Vendrix.exe did not record its command line";
    const std::string quotedProgram = "\"" + WideToUtf8(AppStoreProgram()) + "\"";
    EXPECT_EQ(line.substr(0, quotedProgram.size() + 1), quotedProgram + " ");
    return line.size() > quotedProgram.size() ? line.substr(quotedProgram.size() + 1) : "";
  }

  ScratchFolder scratch_;
  GlobalConfig config_;
  LocalInfoMap localInfos_;
  std::wstring appStore_;
};

TEST(VendrixCommandLine, BuiltFromChannelValues) {
  struct {
    VendrixLaunchParams params;
    std::wstring expected;
  } cases[] = {
      {{1001, "com.example.game", "Example", ""},
       L" -pkg com.example.game -apksupplyid 1001 -displayname Example "},
      {{1001, "", "Example", ""}, L" "},
      {{1001, "com.example.game", "", ""}, L" "},
      {{1001, "", "", "-region eu -beta"}, L" -region eu -beta"},
      {{18446744073709551615ull, "p", "Two Words", "-x"},
       L" -pkg p -apksupplyid 18446744073709551615 -displayname Two Words -x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildVendrixCommandLine(c.params), c.expected);
  }
}

// The calling thread has no COM here: the shortcut must still be made.
TEST_F(FinishTest, GameChannelLaunchesAppStoreAndReplacesGameShortcut) {
  config_.pkgName = "com.example.game";
  config_.gameName = L"Example";
  WriteFileBytes(Shortcut(L"Example.lnk"), "an old shortcut");
  LogCapture capture;
  RunFinishSteps(config_, localInfos_, true, ::GetModuleHandleW(nullptr));

  EXPECT_EQ(LaunchParameters(), " -pkg com.example.game -apksupplyid 1001 -displayname Example ");
  EXPECT_THAT(capture.Texts(),
              Contains("start vendrix in command line:  -pkg com.example.game -apksupplyid 1001 "
                       "-displayname Example "));
  EXPECT_THAT(capture.Lines(), Contains(::testing::HasSubstr("[Info][Window]")));

  const std::wstring icon = appStore_ + L"\\Icons\\com.example.game\\Game.Ico";
  const std::string iconBytes = ReadFileBytes(icon);
  EXPECT_FALSE(iconBytes.empty());
  EXPECT_EQ(iconBytes, ReadFileBytes(kGameIconCopy));

  ShortcutFields link = ReadShortcut(Shortcut(L"Example.lnk"));
  ASSERT_TRUE(link.loaded) << "the old file was not replaced by a shell link";
  EXPECT_EQ(link.target, AppStoreProgram());
  EXPECT_EQ(link.arguments, L" -startpkg com.example.game  -from DesktopLink");
  EXPECT_EQ(link.description, L"Example");
  EXPECT_EQ(link.iconPath, icon);
  EXPECT_EQ(link.iconIndex, 0);
  EXPECT_FALSE(FileExists(Shortcut(L"Fenwyx.lnk")) || FileExists(Shortcut(L"Ruvenna.lnk")));
}

TEST_F(FinishTest, WithoutGameTheAppStoreShortcutIsNamedByBuild) {
  struct {
    int32_t international;
    const wchar_t* name;
    const wchar_t* other;
  } cases[] = {{1, L"Fenwyx", L"Ruvenna"}, {0, L"Ruvenna", L"Fenwyx"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.international);
    DeleteShortcuts();
    config_.international = c.international;
    config_.gameName = L"Example";  // no package: no game shortcut all the same
    RunFinishSteps(config_, localInfos_, true, ::GetModuleHandleW(nullptr));
    EXPECT_EQ(LaunchParameters(), " ");
    ShortcutFields link = ReadShortcut(Shortcut(std::wstring(c.name) + L".lnk"));
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(link.target, AppStoreProgram());
    EXPECT_EQ(link.arguments, L"");
    EXPECT_EQ(link.description, c.name);
    EXPECT_EQ(link.iconPath, L"");
    EXPECT_FALSE(FileExists(Shortcut(std::wstring(c.other) + L".lnk")));
    EXPECT_FALSE(FileExists(Shortcut(L"Example.lnk")));
    EXPECT_FALSE(FileExists(appStore_ + L"\\Icons"));
  }
}

TEST_F(FinishTest, OptionClearedLaunchesButTouchesNoShortcut) {
  config_.pkgName = "com.example.game";
  config_.gameName = L"Example";
  WriteFileBytes(Shortcut(L"Example.lnk"), "an old shortcut");
  RunFinishSteps(config_, localInfos_, false, ::GetModuleHandleW(nullptr));
  EXPECT_EQ(LaunchParameters(), " -pkg com.example.game -apksupplyid 1001 -displayname Example ");
  EXPECT_EQ(ReadFileBytes(Shortcut(L"Example.lnk")), "an old shortcut");
  EXPECT_FALSE(FileExists(appStore_ + L"\\Icons"));
}

// COM is initialised only for the shortcut and balanced: a thread without
// COM has none afterwards, and a thread in the other model keeps it.
TEST_F(FinishTest, ShortcutLeavesTheThreadsComStateAsItWas) {
  std::thread plain([&] {
    EXPECT_EQ(CreateDesktopShortcut(AppStoreProgram(), L"Fenwyx.lnk", nullptr, L"Fenwyx", nullptr), S_OK);
    HRESULT again = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(again, S_OK) << "COM was left initialised";
    if (SUCCEEDED(again)) ::CoUninitialize();
  });
  plain.join();
  std::thread multithreaded([&] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CreateDesktopShortcut(AppStoreProgram(), L"Ruvenna.lnk", L"-a", L"Ruvenna", L"x.ico"),
              S_OK);
    HRESULT again = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(again, S_FALSE) << "the thread's own COM was taken away";
    ::CoUninitialize();
    ::CoUninitialize();
  });
  multithreaded.join();
  EXPECT_TRUE(ReadShortcut(Shortcut(L"Fenwyx.lnk")).loaded);
  ShortcutFields link = ReadShortcut(Shortcut(L"Ruvenna.lnk"));
  EXPECT_EQ(link.arguments, L"-a");
  EXPECT_EQ(link.iconPath, L"x.ico");
}

TEST_F(FinishTest, IconIsTheCustomResourceAndNeedsIt) {
  const std::wstring icon = scratch_.File(L"game.ico");
  ASSERT_TRUE(WriteIconResource(::GetModuleHandleW(nullptr), icon));
  EXPECT_EQ(ReadFileBytes(icon), ReadFileBytes(kGameIconCopy));
  HANDLE image = ::LoadImageW(nullptr, icon.c_str(), IMAGE_ICON, 48, 48, LR_LOADFROMFILE);
  EXPECT_NE(image, nullptr) << "not a loadable icon";
  if (image) ::DestroyIcon(static_cast<HICON>(image));

  // A module without the resource writes nothing.
  const std::wstring none = scratch_.File(L"none.ico");
  EXPECT_FALSE(WriteIconResource(::GetModuleHandleW(L"kernel32.dll"), none));
  EXPECT_FALSE(FileExists(none));
  EXPECT_EQ(PrepareGameIcon(appStore_, "com.example.game", ::GetModuleHandleW(L"kernel32.dll")), L"");

  // A folder that cannot be made (a file stands in its way).
  const std::wstring blocked = scratch_.File(L"blocked");
  ASSERT_TRUE(::CreateDirectoryW(blocked.c_str(), nullptr));
  WriteFileBytes(blocked + L"\\Icons", "a file");
  EXPECT_EQ(PrepareGameIcon(blocked, "com.example.game", ::GetModuleHandleW(nullptr)), L"");
}

}  // namespace
