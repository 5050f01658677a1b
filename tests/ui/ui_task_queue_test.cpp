#include "ui/ui_task_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Pumps messages until `done` or a time-out; returns whether it was done.
bool PumpUntil(const bool& done, DWORD timeoutMs = 10000) {
  DWORD start = ::GetTickCount();
  MSG message;
  while (!done && ::GetTickCount() - start < timeoutMs) {
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    if (!done) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  return done;
}

TEST(UiTaskQueue, WorkerTasksRunInOrderOnTheUiThread) {
  UiTaskQueue queue;
  ASSERT_NE(queue.Window(), nullptr);
  DWORD uiThread = ::GetCurrentThreadId();
  std::vector<int> order;
  bool allOnUi = true, done = false;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      queue.PostToUiThread([&, i] {
        order.push_back(i);
        allOnUi = allOnUi && ::GetCurrentThreadId() == uiThread;
      });
    }
    queue.PostToUiThread([&] { done = true; });
  });
  worker.join();
  ASSERT_TRUE(PumpUntil(done));
  EXPECT_TRUE(allOnUi);
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(UiTaskQueue, TaskPostedByATaskRunsAfterItReturns) {
  UiTaskQueue queue;
  std::vector<std::string> steps;
  bool done = false;
  queue.PostToUiThread([&] {
    queue.PostToUiThread([&] {
      steps.push_back("inner");
      done = true;
    });
    steps.push_back("outer end");
  });
  ASSERT_TRUE(PumpUntil(done));
  EXPECT_EQ(steps, (std::vector<std::string>{"outer end", "inner"}));
}

TEST(UiTaskQueue, EachMessageRunsOneTask) {
  UiTaskQueue queue;
  int runs = 0;
  queue.PostToUiThread([&] { ++runs; });
  queue.PostToUiThread([&] { ++runs; });
  ::SendMessageW(queue.Window(), WM_UI_TASK, 0, 0);
  EXPECT_EQ(runs, 1);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  EXPECT_EQ(runs, 2);
}

}  // namespace
