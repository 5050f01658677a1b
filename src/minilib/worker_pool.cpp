#include "minilib/worker_pool.h"

#include <cstdio>

namespace minilib {

namespace {

std::atomic<WorkerPool*> g_instance{nullptr};

// Reports leaks after every other static object that may hold callbacks.
struct LeakReporter {
  ~LeakReporter() { ReportLeakedCallbacks(); }
} g_leakReporter;

}  // namespace

void ReportLeakedCallbacks() {
  long binders = BinderBase::LiveCount();
  if (binders > 0) {
    std::printf("*** Leaked objects detected: %ld instance(s) of class BinderBase\n", binders);
  }
  long callbacks = CBChecker::LiveCount();
  if (callbacks > 0) {
    std::printf("*** Leaked objects detected: %ld instance(s) of class CBChecker\n", callbacks);
  }
  std::fflush(stdout);
}

WorkerPool& WorkerPool::Instance() {
  static WorkerPool pool(DefaultThreadCount());
  g_instance.store(&pool);
  return pool;
}

void WorkerPool::StopInstance() {
  if (WorkerPool* pool = g_instance.load()) pool->Stop();
}

unsigned WorkerPool::DefaultThreadCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

WorkerPool::WorkerPool(unsigned threadCount) {
  std::lock_guard<std::mutex> pool(poolMutex_);
  running_.store(true);
  {
    std::lock_guard<std::mutex> queue(queueMutex_);
    closed_ = false;
  }
  threadCount_ = threadCount == 0 ? 1 : threadCount;
  for (size_t i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { WorkerLoop(); });
}

WorkerPool::~WorkerPool() {
  Stop();
  if (g_instance.load() == this) g_instance.store(nullptr);
}

void WorkerPool::Post(Callback callback) {
  {
    std::lock_guard<std::mutex> queue(queueMutex_);
    tasks_.emplace_back([callback = std::move(callback)] { callback(); });
  }
  queueReady_.notify_one();
}

void WorkerPool::Stop() {
  std::lock_guard<std::mutex> pool(poolMutex_);
  if (!running_.load()) return;
  running_.store(false);
  {
    std::lock_guard<std::mutex> queue(queueMutex_);
    closed_ = true;
  }
  queueReady_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

void WorkerPool::WorkerLoop() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> queue(queueMutex_);
      queueReady_.wait(queue, [this] { return closed_ || !tasks_.empty(); });
      if (!closed_) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
    }
    if (task) task();
    if (!running_.load()) return;
  }
}

}  // namespace minilib
