// Hands work from any thread to the user-interface thread: tasks queue up
// and the UI thread runs one per WM_UI_TASK message, in posting order.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

// WM_USER + 100: "one task is waiting"; carries nothing itself.
constexpr UINT WM_UI_TASK = 1124;

class UiTaskQueue {
 public:
  // Creates the queue's message-only window on the calling thread, which
  // becomes the thread that runs the tasks.
  UiTaskQueue();
  ~UiTaskQueue();
  UiTaskQueue(const UiTaskQueue&) = delete;
  UiTaskQueue& operator=(const UiTaskQueue&) = delete;

  // Any thread; returns at once. The mutex is not held while posting or
  // while a task runs, so a task may post further tasks.
  void PostToUiThread(std::function<void()> task);

  // Runs the oldest waiting task; what WM_UI_TASK does.
  void RunOneTask();

  HWND Window() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  std::mutex uiTaskMutex_;
  std::deque<std::function<void()>> uiTasks_;
  HWND window_ = nullptr;
};
