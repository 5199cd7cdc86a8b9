#include "device/countdown_ticker.h"

#include "core/serial_queue.h"

namespace velt {

void CountdownTicker::arm(int32_t ticks) {
  count_.store(ticks);
  { std::lock_guard lock(mutex_); }  // a ticker about to wait sees the new count
  armed_.notify_one();
}

void CountdownTicker::tick() {
  int32_t v = count_.load();
  while (v > 1) {
    if (count_.compare_exchange_weak(v, v - 1)) return;
  }
  if (v < 1) return;
  // The notice goes out before the count reads 0, so whoever sees 0 knows it
  // has gone out. An arm in between stands.
  onExpired_();
  int32_t one = 1;
  count_.compare_exchange_strong(one, 0);
}

void CountdownTicker::start(const std::string& label) {
  thread_ = std::thread([this, label] { run(label); });
}

void CountdownTicker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_.store(true);
  }
  armed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CountdownTicker::run(const std::string& label) {
  nameCurrentThread(label);
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      armed_.wait(lock, [this] { return stopping_.load() || count_.load() > 0; });
      if (stopping_.load()) return;
    }
    clock_.sleepFor(kTick);
    if (stopping_.load()) return;
    tick();
  }
}

}  // namespace velt
