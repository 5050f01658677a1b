// The silent channel's run: no page is ever shown. The wanted components are
// detected, the installation starts at once, the finishing step (app store
// and shortcut) runs by itself on success, and a failure only sends its
// report. Runs on the user-interface thread with its own message loop.
#pragma once

#include <windows.h>

#include "component/install_pipeline.h"
#include "ui/ui_task_queue.h"

class GlobalConfig;

class SilentInstall : public InstallObserver {
 public:
  // `module` carries the game icon resource ("CUSTOM" 134).
  SilentInstall(const GlobalConfig& config, EventReporter& events, HMODULE module,
                CatalogueLocations locations = BuiltInCatalogueLocations());
  ~SilentInstall() override;

  // Prepares, runs and finishes; returns when the run has ended and its
  // follow-up is done. Returns the run's result code (0 on success).
  int Run();

  // InstallObserver
  void PostToUiThread(std::function<void()> task) override;
  void OnDownloadProgress(int percent, int unused) override;
  void SetProgressComplete() override;
  void StartStatusAnimation() override;
  void StopStatusAnimation() override;
  void OnInstallComplete() override;
  void OnInstallFailed() override;

  InstallPipeline& Pipeline() { return pipeline_; }

 private:
  void Finish();
  void Close();

  const GlobalConfig& config_;
  EventReporter& events_;
  HMODULE module_;
  UiTaskQueue queue_;
  InstallPipeline pipeline_;
  DWORD uiThreadId_;
  bool closed_ = false;
};
