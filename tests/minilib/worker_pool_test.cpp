#include "minilib/worker_pool.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "base/scoped_handle.h"
#include "support/test_paths.h"

namespace {

using minilib::BinderBase;
using minilib::Callback;
using minilib::CBChecker;
using minilib::WorkerPool;

// A manual-reset event a task can wait on.
struct Gate {
  ScopedHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  void Open() { ::SetEvent(event.Get()); }
  bool Wait(DWORD ms = 10000) { return ::WaitForSingleObject(event.Get(), ms) == WAIT_OBJECT_0; }
};

TEST(WorkerPool, EveryTaskRunsExactlyOnce) {
  std::atomic<int> runs[10] = {};
  {
    WorkerPool pool(4);
    EXPECT_EQ(pool.ThreadCount(), 4u);
    Gate allDone;
    std::atomic<int> remaining{10};
    for (auto& run : runs) {
      pool.Post(Callback::From([&run, &remaining, &allDone] {
        ++run;
        if (--remaining == 0) allDone.Open();
      }));
    }
    ASSERT_TRUE(allDone.Wait());
  }
  for (auto& run : runs) EXPECT_EQ(run.load(), 1);
}

TEST(WorkerPool, OneThreadTakesTasksInPostingOrder) {
  std::vector<int> order;
  std::mutex orderMutex;
  Gate done;
  WorkerPool pool(1);
  for (int i = 0; i < 20; ++i) {
    pool.Post(Callback::From([i, &order, &orderMutex, &done] {
      std::lock_guard<std::mutex> lock(orderMutex);
      order.push_back(i);
      if (i == 19) done.Open();
    }));
  }
  ASSERT_TRUE(done.Wait());
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);
}

// Stop lets the running task finish and drops the waiting ones; a second
// Stop and a later Post change nothing.
TEST(WorkerPool, StopFinishesRunningTaskAndDropsWaitingOnes) {
  Gate started, release;
  std::atomic<int> finished{0}, waitingRuns{0};
  WorkerPool pool(1);
  pool.Post(Callback::From([&] {
    started.Open();
    release.Wait();
    ++finished;
  }));
  for (int i = 0; i < 3; ++i) pool.Post(Callback::From([&] { ++waitingRuns; }));
  ASSERT_TRUE(started.Wait());

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    pool.Stop();
    stopped = true;
  });
  ::Sleep(100);
  EXPECT_FALSE(stopped.load()) << "Stop must wait for the running task";
  release.Open();
  stopper.join();
  EXPECT_EQ(finished.load(), 1);

  pool.Stop();
  pool.Post(Callback::From([&] { ++waitingRuns; }));
  ::Sleep(50);
  EXPECT_EQ(waitingRuns.load(), 0);
}

TEST(Callback, CopiesShareOneBinderDestroyedWithTheLast) {
  long binders = BinderBase::LiveCount();
  long checkers = CBChecker::LiveCount();
  int calls = 0;
  {
    Callback original = Callback::From([&calls] { ++calls; });
    EXPECT_EQ(BinderBase::LiveCount(), binders + 1);
    Callback* copy = new Callback(original);
    Callback second = *copy;
    (*copy)();
    second();
    EXPECT_EQ(BinderBase::LiveCount(), binders + 1) << "copies share the binder";
    EXPECT_EQ(CBChecker::LiveCount(), checkers + 3);
    delete copy;
  }
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(BinderBase::LiveCount(), binders);
  EXPECT_EQ(CBChecker::LiveCount(), checkers);
}

TEST(Callback, LeakLinesAtExitOnlyWhenSomethingLeaked) {
  ChildResult clean = RunChild(TestChildPath(), L"post");
  EXPECT_EQ(clean.exitCode, 0);
  EXPECT_EQ(clean.output, "");

  ChildResult leaky = RunChild(TestChildPath(), L"leak");
  EXPECT_EQ(leaky.exitCode, 0);
  EXPECT_NE(leaky.output.find("*** Leaked objects detected: 1 instance(s) of class BinderBase\r\n"),
            std::string::npos)
      << leaky.output;
  EXPECT_NE(leaky.output.find("*** Leaked objects detected: 1 instance(s) of class CBChecker\r\n"),
            std::string::npos)
      << leaky.output;
}

TEST(WorkerPool, ProcessPoolHasAtLeastOneThread) {
  EXPECT_GE(WorkerPool::DefaultThreadCount(), 1u);
  Gate ran;
  WorkerPool::Instance().Post(Callback::From([&ran] { ran.Open(); }));
  EXPECT_TRUE(ran.Wait());
  WorkerPool::StopInstance();
  WorkerPool::StopInstance();
}

}  // namespace
