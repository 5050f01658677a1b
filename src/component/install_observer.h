// How an installation run reaches its window. The run works on a worker
// thread; the window does every control change on its user-interface thread.
#pragma once

// windows.h maps ReportEvent to the event-log function ReportEventW; the
// telemetry operation keeps its own name.
#include <windows.h>
#undef ReportEvent

#include <cstdint>
#include <functional>

class InstallObserver {
 public:
  virtual ~InstallObserver() = default;

  // Queues `task` to run later on the user-interface thread, after every task
  // queued before it. Any thread; returns at once.
  virtual void PostToUiThread(std::function<void()> task) = 0;

  // User-interface thread only (the run posts them through PostToUiThread).
  virtual void OnDownloadProgress(int percent, int unused) = 0;  // percent 0..100
  virtual void SetProgressComplete() = 0;    // the bar shows 100, text unchanged
  virtual void StartStatusAnimation() = 0;   // timer 1 on the status label, 1000 ms
  virtual void StopStatusAnimation() = 0;

  // Exactly one of these ends each run, as its last action, after
  // installState and resultCode are written. Called on the run's thread (or
  // the user-interface thread when nothing needed installing); the window
  // queues its own user-interface work.
  virtual void OnInstallComplete() = 0;
  virtual void OnInstallFailed() = 0;
};

// Telemetry events of a run (fire-and-forget).
class EventReporter {
 public:
  virtual ~EventReporter() = default;
  virtual void ReportEvent(int eventCode, int detail1, int detail2, int detail3) = 0;
};
