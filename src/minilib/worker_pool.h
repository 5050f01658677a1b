// Threads that run posted callbacks off the user-interface thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "minilib/callback.h"

namespace minilib {

class WorkerPool {
 public:
  // The process's pool, created and started on first use (thread-safe).
  static WorkerPool& Instance();
  // Stops the process's pool if it was ever created; otherwise nothing.
  static void StopInstance();

  // One thread per hardware thread; at least one when the system reports 0.
  static unsigned DefaultThreadCount();

  // Starts `threadCount` threads (at least one).
  explicit WorkerPool(unsigned threadCount);
  // Stops the pool.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues the callback and wakes one thread; never fails. Callbacks posted
  // after Stop are kept but never run.
  void Post(Callback callback);

  // Lets running tasks finish, drops the waiting ones, joins every thread.
  // A second call returns at once. Must not be called from a pool thread.
  void Stop();

  size_t ThreadCount() const { return threadCount_; }

 private:
  void WorkerLoop();

  std::mutex poolMutex_;  // serialises start and stop; taken before queueMutex_
  std::vector<std::thread> threads_;
  std::mutex queueMutex_;
  std::condition_variable queueReady_;
  std::deque<std::function<void()>> tasks_;
  bool closed_ = false;  // guarded by queueMutex_
  std::atomic<bool> running_{false};
  size_t threadCount_ = 0;
};

}  // namespace minilib
