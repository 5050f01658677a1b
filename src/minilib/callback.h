// Type-erased closures for the worker pool, with live-instance counters that
// report leaks when the process ends.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

namespace minilib {

// Counts live Callback objects process-wide.
class CBChecker {
 public:
  CBChecker() { ++count_; }
  CBChecker(const CBChecker&) { ++count_; }
  CBChecker& operator=(const CBChecker&) = default;
  ~CBChecker() { --count_; }
  static long LiveCount() { return count_.load(); }

 private:
  static inline std::atomic<long> count_{0};
};

// The abstract packaged closure; `run` receives the binder itself.
class BinderBase {
 public:
  using RunEntry = void (*)(BinderBase*);
  explicit BinderBase(RunEntry run) : run_(run) { ++count_; }
  BinderBase(const BinderBase&) = delete;
  BinderBase& operator=(const BinderBase&) = delete;
  virtual ~BinderBase() { --count_; }
  void Run() { run_(this); }
  static long LiveCount() { return count_.load(); }

 private:
  RunEntry run_;
  static inline std::atomic<long> count_{0};
};

template <typename Closure>
class Binder final : public BinderBase {
 public:
  explicit Binder(Closure closure) : BinderBase(&Binder::RunClosure), closure_(std::move(closure)) {}

 private:
  static void RunClosure(BinderBase* self) { static_cast<Binder*>(self)->closure_(); }
  Closure closure_;
};

// A closure taking nothing and returning nothing. Copies share one binder,
// which is destroyed with the last copy (on whichever thread drops it).
class Callback : public CBChecker {
 public:
  Callback() = default;
  template <typename Closure>
  static Callback From(Closure closure) {
    Callback callback;
    callback.binder_ = std::make_shared<Binder<Closure>>(std::move(closure));
    return callback;
  }
  explicit operator bool() const { return binder_ != nullptr; }
  void operator()() const {
    if (binder_) binder_->Run();
  }

 private:
  std::shared_ptr<BinderBase> binder_;
};

// Writes "*** Leaked objects detected: N instance(s) of class NAME" to the
// standard output for each class whose live count is above 0. Runs by itself
// at static teardown; callable directly for checks.
void ReportLeakedCallbacks();

}  // namespace minilib
