// The process entry point: start-up in a fixed order, the run, an orderly end.
// Every path returns 0.
#include <windows.h>

#include "app/single_instance.h"
#include "base/logger.h"
#include "config/global_config.h"
#include "minilib/worker_pool.h"
#include "report/data_report.h"
#include "ui/silent_install.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  LOG_INFO("Main") << "WexDownload Start.";
  const GlobalConfig& config = GlobalConfig::Instance();
  ScopedHandle mutex;
  if (!CheckSingleton(mutex)) {
    LOG_INFO("Main") << "WexDownloader only run one instance";
    return 0;
  }
  if (config.silentMode == 1) {
    SilentInstall run(config, DataReport::Instance(), instance);
    run.Run();
  } else {
    // The interactive window is not part of this build yet; a channel that
    // asks for it ends here without touching anything.
    LOG_WARN("Main") << "interactive window not available, silentMode: " << config.silentMode;
  }
  LOG_INFO("Main") << "WexDownload End.";
  minilib::WorkerPool::StopInstance();
  return 0;
}
