// Time as the agent sees it. Code that sleeps or measures goes through a
// Clock so that tests can run it on a fake one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velt {

class Clock {
 public:
  using Duration = std::chrono::nanoseconds;
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
  // Blocks the calling thread for about d.
  virtual void sleepFor(Duration d) = 0;
  // Waits on cv with lock held until due, a notification or a spurious
  // wake-up. A clock of its own time line may move on to due instead.
  virtual void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         TimePoint due) {
    cv.wait_until(lock, due);
  }
};

// The steady clock of the machine, with real sleeps.
Clock& systemClock();

}  // namespace velt
