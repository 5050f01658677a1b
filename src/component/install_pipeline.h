// One installation run: catalogue, selection, download and verification,
// installation, and the one notification that ends it. The window owns the
// pipeline and posts DoInstallComponent to the worker pool; the run reports
// only through InstallObserver and EventReporter, so it runs without a window.
// Its log lines name the steps as the main window's operations
// ("CMainWnd::DownloadComponent"), the names support reads the logs by.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "component/component_catalogue.h"
#include "component/component_item.h"
#include "component/component_selection.h"
#include "component/install_observer.h"

class GlobalConfig;

// installState values.
enum InstallState : int {
  kInstallNotStarted = 0,
  kInstallFetching = 1,
  kInstallInstalling = 2,
  kInstallCompleted = 10,
  kInstallFailed = 11,
};

// The catalogue's two locations (full HTTPS URLs).
struct CatalogueLocations {
  std::string primaryUrl;
  std::string fallbackUrl;
};

// The locations this build was configured with.
CatalogueLocations BuiltInCatalogueLocations();

class InstallPipeline {
 public:
  // `config` must outlive the pipeline; its installPath may change before the
  // run starts (the user's folder choice), never during it.
  InstallPipeline(const GlobalConfig& config, InstallObserver& observer, EventReporter& events,
                  CatalogueLocations locations = BuiltInCatalogueLocations());
  // Detaches the observer and waits for a run in progress to end.
  ~InstallPipeline();
  InstallPipeline(const InstallPipeline&) = delete;
  InstallPipeline& operator=(const InstallPipeline&) = delete;

  // Detects every wanted component (the window does this when it is built).
  void GetNeedInstallComponentLocalInfo();
  bool AreAllComponentsInstalled() const;

  // The run; on the worker thread, once per pipeline.
  void DoInstallComponent();

  // Stops a run at its next chunk or step and cuts it off from the observer:
  // after this returns no observer or event call is made any more, and a run
  // that has not started yet will not start. Waits for a run in progress to
  // end. Called by the window before it goes away.
  void DetachAndWait();

  // Steps of the run, public so each can be exercised on its own.
  std::wstring DownloadComponentXml();            // empty path on failure
  bool ParseComponentXml(const std::wstring& path);
  void GetNeedInstallComponentItems();
  bool CheckNeedInstallComponentItems();          // refuses undescribed or unsafe records
  bool DownloadComponent();
  bool InstallComponent();

  int InstallStateValue() const { return installState.load(); }
  int ResultCodeValue() const { return resultCode.load(); }

  // State of the run (read by the window without locks).
  std::atomic<int> installState{kInstallNotStarted};
  std::atomic<int> resultCode{0};

  ComponentCatalogue catalogue;
  LocalInfoMap localInfos;
  std::vector<ComponentItem> needInstallItems;

 private:
  friend class PipelineTestAccess;
  bool Cancelled() const { return cancelled_.load(); }
  // Observer and event calls go through these; they do nothing once detached.
  // Queues observer->*call on the user-interface thread.
  void PostObserverCall(void (InstallObserver::*call)());
  void PostProgress(int percent);
  void Report(int eventCode, int detail1 = 0, int detail2 = 0, int detail3 = 0);
  void NotifyComplete();
  void NotifyFailed();

  const GlobalConfig& config_;
  const CatalogueLocations locations_;
  std::mutex observerMutex_;   // guards observer_ and events_
  InstallObserver* observer_;
  EventReporter* events_;
  std::atomic<bool> cancelled_{false};
  std::mutex runMutex_;
  std::condition_variable runEnded_;
  bool running_ = false;       // guarded by runMutex_
};
