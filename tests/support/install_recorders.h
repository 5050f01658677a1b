// Recording stand-ins for what an installation run reports to: the window's
// observer and the telemetry reporter. Both are safe to call from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "component/install_observer.h"

struct RecordedEvent {
  int code = 0;
  int detail1 = 0;
  int detail2 = 0;
  int detail3 = 0;
  bool operator==(const RecordedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RecordedEvent& e) {
  return out << "{" << e.code << ", " << e.detail1 << ", " << e.detail2 << ", " << e.detail3 << "}";
}

class RecordingEventReporter : public EventReporter {
 public:
  void ReportEvent(int eventCode, int detail1, int detail2, int detail3) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({eventCode, detail1, detail2, detail3});
  }
  std::vector<RecordedEvent> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RecordedEvent> events_;
};

// Posted tasks wait until RunPosted(), as they would for the window's thread;
// every observer call, posted or direct, is recorded by name.
class RecordingInstallObserver : public InstallObserver {
 public:
  void PostToUiThread(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  // Runs the tasks posted so far, in order, on the calling thread.
  void RunPosted() {
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks.swap(posted_);
    }
    for (auto& task : tasks) task();
  }
  size_t PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_.size();
  }
  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  void OnDownloadProgress(int percent, int) override { Record("progress " + std::to_string(percent)); }
  void SetProgressComplete() override { Record("progress complete"); }
  void StartStatusAnimation() override { Record("start animation"); }
  void StopStatusAnimation() override { Record("stop animation"); }
  void OnInstallComplete() override { Record("complete"); }
  void OnInstallFailed() override { Record("failed"); }

 private:
  void Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::vector<std::function<void()>> posted_;
  std::vector<std::string> calls_;
};
