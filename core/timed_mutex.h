// A mutex whose lock can give up at a deadline on the injected clock, for
// the device layer's quit pass. It stands in for std::timed_mutex, whose timed
// lock on the steady clock is a call that Debian 12's ThreadSanitizer does
// not follow: every later unlock would be reported.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/clock.h"

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
  // Gives up once clock reads deadline. The wait itself is a real one, in
  // short steps: a fake clock moves only when its test moves it.
  bool try_lock_until(const Clock& clock, Clock::TimePoint deadline) {
    std::unique_lock guard(mutex_);
    while (held_) {
      if (clock.now() >= deadline) return false;
      free_.wait_for(guard, kWaitStep);
    }
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
  static constexpr auto kWaitStep = std::chrono::milliseconds(5);
  std::mutex mutex_;
  std::condition_variable free_;
  bool held_ = false;
};

}  // namespace velt
