#include "ui/ui_task_queue.h"

namespace {
constexpr const wchar_t* kClassName = L"WexDownloaderUiTaskQueue";
}

UiTaskQueue::UiTaskQueue() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &UiTaskQueue::WindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  ::RegisterClassExW(&windowClass);  // already registered by an earlier queue: fine
  window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, this);
}

UiTaskQueue::~UiTaskQueue() {
  if (window_) ::DestroyWindow(window_);
}

void UiTaskQueue::PostToUiThread(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(uiTaskMutex_);
    uiTasks_.push_back(std::move(task));
  }
  ::PostMessageW(window_, WM_UI_TASK, 0, 0);
}

void UiTaskQueue::RunOneTask() {
  std::function<void()> task;
  {
    std::lock_guard<std::mutex> lock(uiTaskMutex_);
    if (uiTasks_.empty()) return;
    task = std::move(uiTasks_.front());
    uiTasks_.pop_front();
  }
  if (task) task();
}

LRESULT CALLBACK UiTaskQueue::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* queue = reinterpret_cast<UiTaskQueue*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_UI_TASK && queue) {
    queue->RunOneTask();
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}
