// A child process for tests. Usage:
//   wex_test_child exit N            exits with code N
//   wex_test_child sleep MS N        sleeps MS milliseconds, exits with N
//   wex_test_child log N             writes N log lines, then ends normally
//   wex_test_child leak              leaves one callback alive at exit
//   wex_test_child post              runs one pooled task and ends cleanly
//   wex_test_child language I PKG    prints the first-run language this
//                                    process's locale gives (international I)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/logger.h"
#include "base/settings_key.h"
#include "base/text_convert.h"
#include "config/global_config.h"
#include "minilib/worker_pool.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  auto number = [&](int index) { return argc > index ? std::wcstol(argv[index], nullptr, 10) : 0L; };
  if (mode == L"exit") return static_cast<int>(number(2));
  if (mode == L"sleep") {
    ::Sleep(static_cast<DWORD>(number(2)));
    return static_cast<int>(number(3));
  }
  if (mode == L"log") {
    long count = number(2);
    for (long i = 0; i < count; ++i) LOG_INFO("Main") << "child line " << i;
    std::wprintf(L"%ls\n", Logger::Instance().FilePath().c_str());
    return 0;
  }
  if (mode == L"leak") {
    static auto* leaked = new minilib::Callback(minilib::Callback::From([] {}));
    (void)leaked;
    return 0;
  }
  if (mode == L"post") {
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    minilib::WorkerPool::Instance().Post(minilib::Callback::From([done] { ::SetEvent(done); }));
    ::WaitForSingleObject(done, INFINITE);
    ::CloseHandle(done);
    minilib::WorkerPool::StopInstance();
    return 0;
  }
  if (mode == L"language") {
    // A first run: no stored language before, none left behind.
    auto forget = [] {
      SettingsKey key;
      if (key.TryOpen(HKEY_CURRENT_USER, GlobalConfig::kSettingsKey, SettingsKey::kReadWrite) == 0) {
        ::RegDeleteValueW(key.Handle(), L"UserLanguage");
      }
    };
    forget();
    GlobalConfig config;
    config.international = static_cast<int32_t>(number(2));
    config.pkgName = argc > 3 ? WideToUtf8(argv[3]) : "";
    config.InitLanguageSetting();
    forget();
    std::printf("%s\n", WideToUtf8(config.language).c_str());
    return 0;
  }
  return 2;
}
