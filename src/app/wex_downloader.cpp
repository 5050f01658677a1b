// The process entry point: start-up in a fixed order, then an orderly end.
#include <windows.h>

#include "base/logger.h"
#include "config/global_config.h"
#include "minilib/worker_pool.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  LOG_INFO("Main") << "WexDownload Start.";
  GlobalConfig::Instance();
  LOG_INFO("Main") << "WexDownload End.";
  minilib::WorkerPool::StopInstance();
  return 0;
}
