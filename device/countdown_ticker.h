// Folds bursts of device events into one notice: each event sets a countdown
// of 0.2 s ticks, and the notice fires at the tick that brings it to 0. The
// thread sleeps until the countdown is armed, so an idle agent never wakes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/clock.h"

namespace velt {

class CountdownTicker {
 public:
  static constexpr Clock::Duration kTick = std::chrono::milliseconds(200);

  // onExpired runs on the ticker's thread.
  CountdownTicker(Clock& clock, std::function<void()> onExpired)
      : clock_(clock), onExpired_(std::move(onExpired)) {}
  ~CountdownTicker() { stop(); }
  CountdownTicker(const CountdownTicker&) = delete;
  CountdownTicker& operator=(const CountdownTicker&) = delete;

  // Sets the countdown to ticks; setting it again before it expires restarts
  // the wait. Any thread.
  void arm(int32_t ticks);
  // 0 once the notice of the last arm has gone out.
  int32_t remaining() const;
  // One tick: counts down by one, and fires when that reaches 0.
  void tick();

  // Runs the ticks on a thread named label.
  void start(const std::string& label);
  // Joins the thread; it may finish the tick it is sleeping through.
  void stop();

 private:
  void run(const std::string& label);

  Clock& clock_;
  std::function<void()> onExpired_;
  // The countdown in the low 32 bits, the number of arms in the high ones.
  std::atomic<uint64_t> state_{0};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable armed_;
  std::thread thread_;
};

}  // namespace velt
