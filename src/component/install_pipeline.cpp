#include "component/install_pipeline.h"

#include <stdexcept>

#include "base/logger.h"
#include "component/result_codes.h"
#include "config/endpoints.h"
#include "config/global_config.h"

namespace {

// A run stopped by DetachAndWait: ends silently, the observer is gone.
struct RunCancelled {};

// Ends a run at a failed step; logged and turned into OnInstallFailed.
[[noreturn]] void StopRun(const char* message) { throw std::logic_error(message); }

}  // namespace

CatalogueLocations BuiltInCatalogueLocations() {
  return {WEX_CATALOGUE_PRIMARY_URL, WEX_CATALOGUE_FALLBACK_URL};
}

InstallPipeline::InstallPipeline(const GlobalConfig& config, InstallObserver& observer,
                                 EventReporter& events, CatalogueLocations locations)
    : catalogue(config.supplyid),
      config_(config),
      locations_(std::move(locations)),
      observer_(&observer),
      events_(&events) {}

InstallPipeline::~InstallPipeline() { DetachAndWait(); }

void InstallPipeline::DetachAndWait() {
  cancelled_.store(true);
  {
    std::lock_guard<std::mutex> lock(observerMutex_);
    observer_ = nullptr;
    events_ = nullptr;
  }
  std::unique_lock<std::mutex> lock(runMutex_);
  runEnded_.wait(lock, [this] { return !running_; });
}

void InstallPipeline::PostObserverCall(void (InstallObserver::*call)()) {
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (InstallObserver* observer = observer_) {
    observer->PostToUiThread([observer, call] { (observer->*call)(); });
  }
}

void InstallPipeline::PostProgress(int percent) {
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (InstallObserver* observer = observer_) {
    observer->PostToUiThread([observer, percent] { observer->OnDownloadProgress(percent, 0); });
  }
}

void InstallPipeline::Report(int eventCode, int detail1, int detail2, int detail3) {
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (events_) events_->ReportEvent(eventCode, detail1, detail2, detail3);
}

void InstallPipeline::NotifyComplete() {
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (observer_) observer_->OnInstallComplete();
}

void InstallPipeline::NotifyFailed() {
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (observer_) observer_->OnInstallFailed();
}

void InstallPipeline::GetNeedInstallComponentLocalInfo() {
  ::GetNeedInstallComponentLocalInfo(config_, localInfos);
}

bool InstallPipeline::AreAllComponentsInstalled() const {
  return ::AreAllComponentsInstalled(localInfos);
}

bool InstallPipeline::ParseComponentXml(const std::wstring& path) {
  int code = resultCode.load();
  try {
    bool parsed = catalogue.ParseComponentXml(path, &code);
    resultCode = code;
    return parsed;
  } catch (const std::logic_error& e) {
    // A malformed required number makes the whole catalogue unreadable.
    LOG_ERROR_AS("Component", "CMainWnd::DoInstallComponent") << e.what();
    resultCode = kResultCatalogueParse;
    return false;
  }
}

void InstallPipeline::GetNeedInstallComponentItems() {
  needInstallItems = ::GetNeedInstallComponentItems(config_, catalogue);
}

bool InstallPipeline::CheckNeedInstallComponentItems() {
  size_t index = 0;
  for (const ComponentSpec& component : ComponentTable()) {
    if (!(config_.*component.wanted)) continue;
    const ComponentItem& item = needInstallItems.at(index++);
    if (item.id != component.id) {
      LOG_ERROR_AS("Component", "CMainWnd::CheckNeedInstallComponentItems")
          << "component id: " << component.id << " is not in the component xml.";
      resultCode = kResultCatalogueParse;
      return false;
    }
    // Packages run with administrator rights: nothing may be written or run
    // outside the download and install roots.
    if (!IsSafeRelativePath(item.name) || !IsSafeRelativePath(item.localAddPath)) {
      LOG_ERROR_AS("Component", "CMainWnd::CheckNeedInstallComponentItems")
          << "component id: " << component.id << " has an unsafe path. name: "
          << item.name << " localaddpath: " << item.localAddPath;
      resultCode = kResultCatalogueParse;
      return false;
    }
  }
  return true;
}

void InstallPipeline::DoInstallComponent() {
  {
    std::lock_guard<std::mutex> lock(runMutex_);
    if (cancelled_.load() || running_) return;
    running_ = true;
  }
  auto checkpoint = [this] {
    if (Cancelled()) throw RunCancelled{};
  };
  bool notifyFailure = true;
  try {
    installState = kInstallFetching;
    Report(100);
    std::wstring cataloguePath = DownloadComponentXml();
    checkpoint();
    if (cataloguePath.empty()) {
      Report(101, resultCode.load());
      StopRun("stop install by download component xml error.");
    }
    Report(102);
    if (!ParseComponentXml(cataloguePath)) {
      Report(101, resultCode.load());
      StopRun("stop install by parse component xml error.");
    }
    GetNeedInstallComponentItems();
    if (!CheckNeedInstallComponentItems()) {
      Report(101, resultCode.load());
      StopRun("stop install by parse component xml error.");
    }
    checkpoint();
    Report(200);
    if (!DownloadComponent()) {
      checkpoint();
      StopRun("stop install by download error.");
    }
    checkpoint();
    Report(204);
    PostObserverCall(&InstallObserver::StartStatusAnimation);
    installState = kInstallInstalling;
    Report(300);
    bool installed = false;
    try {
      installed = InstallComponent();
    } catch (...) {
      PostObserverCall(&InstallObserver::StopStatusAnimation);
      throw;
    }
    PostObserverCall(&InstallObserver::StopStatusAnimation);
    checkpoint();
    if (!installed) StopRun("stop install by install error.");
    Report(304);
    installState = kInstallCompleted;
    notifyFailure = false;
    NotifyComplete();
  } catch (const RunCancelled&) {
    notifyFailure = false;
  } catch (const std::logic_error& e) {
    LOG_ERROR_AS("Component", "CMainWnd::DoInstallComponent") << e.what();
  } catch (...) {
    resultCode = kResultCommon;
    LOG_ERROR_AS("component", "CMainWnd::DoInstallComponent")
        << "unknown exception occurred at installing progress.";
  }
  if (notifyFailure && !Cancelled()) {
    installState = kInstallFailed;
    NotifyFailed();
  }
  {
    std::lock_guard<std::mutex> lock(runMutex_);
    running_ = false;
  }
  runEnded_.notify_all();
}
