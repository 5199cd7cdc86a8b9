#include "device/countdown_ticker.h"

#include <algorithm>

#include "core/serial_queue.h"

namespace velt {

namespace {

constexpr uint64_t kCountMask = 0xFFFFFFFF;

int32_t countOf(uint64_t state) {
  return static_cast<int32_t>(state & kCountMask);
}

}  // namespace

void CountdownTicker::arm(int32_t ticks) {
  uint64_t state = state_.load();
  uint64_t next;
  do {
    next = (((state >> 32) + 1) << 32) | static_cast<uint32_t>(std::max(ticks, 0));
  } while (!state_.compare_exchange_weak(state, next));
  { std::lock_guard lock(mutex_); }  // a ticker about to wait sees the new count
  armed_.notify_one();
}

int32_t CountdownTicker::remaining() const {
  return countOf(state_.load());
}

void CountdownTicker::tick() {
  uint64_t state = state_.load();
  while (countOf(state) > 1) {
    if (state_.compare_exchange_weak(state, state - 1)) return;
  }
  if (countOf(state) < 1) return;
  // The notice goes out before the count reads 0, so whoever sees 0 knows it
  // has gone out. An arm in between stands: it changed the arm number, so
  // the count is left as it set it.
  onExpired_();
  state_.compare_exchange_strong(state, state & ~kCountMask);
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
      armed_.wait(lock, [this] { return stopping_.load() || remaining() > 0; });
      if (stopping_.load()) return;
    }
    clock_.sleepFor(kTick);
    if (stopping_.load()) return;
    tick();
  }
}

}  // namespace velt
