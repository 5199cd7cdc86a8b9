// A mutex whose lock can give up at a deadline on the steady clock, for the
// device layer's quit pass. It stands in for std::timed_mutex, whose timed
// lock on the steady clock is a call that Debian 12's ThreadSanitizer does
// not follow: every later unlock would be reported.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velt {

class TimedMutex {
 public:
  void lock() {
    std::unique_lock guard(mutex_);
    free_.wait(guard, [this] { return !held_; });
    held_ = true;
  }
  bool try_lock() {
    std::lock_guard guard(mutex_);
    if (held_) return false;
    held_ = true;
    return true;
  }
  bool try_lock_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock guard(mutex_);
    if (!free_.wait_until(guard, deadline, [this] { return !held_; })) return false;
    held_ = true;
    return true;
  }
  void unlock() {
    {
      std::lock_guard guard(mutex_);
      held_ = false;
    }
    free_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  bool held_ = false;
};

}  // namespace velt
