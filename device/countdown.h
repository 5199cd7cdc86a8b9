// Folds bursts of device events into one notice: each event sets a countdown
// of 0.2 s ticks, and the notice goes out when the last one set has run out.
// The countdown is one timer of the DelayedTasks it is given (the device
// layer's loop), so nothing wakes while none is set.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/delayed_tasks.h"

namespace velt {

class Countdown {
 public:
  static constexpr Clock::Duration kTick = std::chrono::milliseconds(200);

  // onExpired runs where timers runs its tasks; label names them.
  Countdown(DelayedTasks& timers, std::string label, std::function<void()> onExpired);
  ~Countdown();
  Countdown(const Countdown&) = delete;
  Countdown& operator=(const Countdown&) = delete;

  // Sets the countdown to ticks from now; setting it again before it runs
  // out restarts the wait, and 0 cancels it. Any thread.
  void arm(int32_t ticks);
  // The ticks last set, until their notice has gone out; 0 after that.
  int32_t remaining() const;
  // No notice goes out once this returns; one going out is waited for.
  void stop();

 private:
  struct State;
  DelayedTasks& timers_;
  std::string label_;
  std::shared_ptr<State> state_;
};

}  // namespace velt
