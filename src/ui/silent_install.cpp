#include "ui/silent_install.h"

#include "base/logger.h"
#include "component/finish_install.h"
#include "config/global_config.h"
#include "minilib/worker_pool.h"

SilentInstall::SilentInstall(const GlobalConfig& config, EventReporter& events, HMODULE module,
                             CatalogueLocations locations)
    : config_(config),
      events_(events),
      module_(module),
      pipeline_(config, *this, events, std::move(locations)),
      uiThreadId_(::GetCurrentThreadId()) {
  pipeline_.GetNeedInstallComponentLocalInfo();
}

// The run may still be going when the host goes away: cut it off and wait.
SilentInstall::~SilentInstall() { pipeline_.DetachAndWait(); }

int SilentInstall::Run() {
  events_.ReportEvent(1, 0, 0, 0);
  if (pipeline_.AreAllComponentsInstalled()) {
    pipeline_.installState = kInstallCompleted;
    LOG_INFO_AS("MainWnd", "CMainWnd::OnPrepare") << "all needed component installed.";
    events_.ReportEvent(2, 0, 0, 0);
    OnInstallComplete();
  } else {
    minilib::WorkerPool::Instance().Post(
        minilib::Callback::From([this] { pipeline_.DoInstallComponent(); }));
  }
  MSG message;
  while (!closed_ && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return pipeline_.ResultCodeValue();
}

void SilentInstall::PostToUiThread(std::function<void()> task) {
  queue_.PostToUiThread(std::move(task));
}

// Nothing is shown in a silent run.
void SilentInstall::OnDownloadProgress(int, int) {}
void SilentInstall::SetProgressComplete() {}
void SilentInstall::StartStatusAnimation() {}
void SilentInstall::StopStatusAnimation() {}

void SilentInstall::OnInstallComplete() {
  if (::GetCurrentThreadId() == uiThreadId_) {
    Finish();
  } else {
    PostToUiThread([this] { Finish(); });
  }
}

void SilentInstall::OnInstallFailed() {
  int code = pipeline_.ResultCodeValue();
  PostToUiThread([this, code] {
    events_.ReportEvent(1001, code, 0, 0);
    Close();
  });
}

void SilentInstall::Finish() {
  // The shortcut option of a silent run always has its default: selected.
  RunFinishSteps(config_, pipeline_.localInfos, true, module_);
  Close();
}

void SilentInstall::Close() {
  closed_ = true;
  ::PostThreadMessageW(uiThreadId_, WM_NULL, 0, 0);  // wakes the loop to see it
}
