// A run whose packages all lie verified in their download folders: the time
// of the fetch phase (catalogue, selection, reuse test of every package)
// against the time of hashing the same packages alone.
//   reuse_bench <primary catalogue URL> <fallback URL> <download root>
// Prints "run seconds", "md5 seconds" and "overhead ratio".
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "base/file_hash.h"
#include "base/text_convert.h"
#include "component/install_pipeline.h"
#include "config/global_config.h"

namespace {

class SilentObserver : public InstallObserver {
 public:
  void PostToUiThread(std::function<void()>) override {}
  void OnDownloadProgress(int, int) override {}
  void SetProgressComplete() override {}
  void StartStatusAnimation() override {}
  void StopStatusAnimation() override {}
  void OnInstallComplete() override {}
  void OnInstallFailed() override {}
};

class NoEvents : public EventReporter {
 public:
  void ReportEvent(int, int, int, int) override {}
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: reuse_bench <primary URL> <fallback URL> <download root>\n");
    return 2;
  }
  GlobalConfig config;
  config.tempPath = argv[3];
  config.installMarket = config.installUI = config.installVDI = config.installVDI71 =
      config.installRootfs = config.installQuib = true;
  SilentObserver observer;
  NoEvents events;
  InstallPipeline pipeline(config, observer, events,
                           {WideToUtf8(argv[1]), WideToUtf8(argv[2])});

  auto start = std::chrono::steady_clock::now();
  std::wstring catalogue = pipeline.DownloadComponentXml();
  bool ok = !catalogue.empty() && pipeline.ParseComponentXml(catalogue);
  pipeline.GetNeedInstallComponentItems();
  ok = ok && pipeline.CheckNeedInstallComponentItems() && pipeline.DownloadComponent();
  double run = Seconds(std::chrono::steady_clock::now() - start);
  if (!ok) {
    std::fprintf(stderr, "reuse_bench: the run failed with result code %d\n", pipeline.ResultCodeValue());
    return 1;
  }

  start = std::chrono::steady_clock::now();
  for (const ComponentItem& item : pipeline.needInstallItems) {
    if (GetFileHexMd5(item.packagePath).empty()) return 1;
  }
  double md5 = Seconds(std::chrono::steady_clock::now() - start);
  std::printf("packages %zu\nrun seconds %.3f\nmd5 seconds %.3f\noverhead ratio %.3f\n",
              pipeline.needInstallItems.size(), run, md5, md5 > 0 ? run / md5 : 0.0);
  return 0;
}
