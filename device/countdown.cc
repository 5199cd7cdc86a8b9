#include "device/countdown.h"

#include <condition_variable>
#include <mutex>

namespace velt {

// Shared with the jobs, which may outlive the countdown.
struct Countdown::State {
  std::function<void()> onExpired;
  std::mutex mutex;
  std::condition_variable idle;
  uint64_t arms = 0;    // which arm a job belongs to
  int32_t pending = 0;  // ticks of the last arm while its notice is due
  bool firing = false;  // the notice is going out
  bool stopped = false;

  void expire(uint64_t arm) {
    std::unique_lock lock(mutex);
    if (stopped || arm != arms || pending == 0) return;
    firing = true;
    lock.unlock();
    // The notice goes out before the countdown reads 0, so whoever sees 0
    // knows it has gone out. An arm meanwhile stands.
    onExpired();
    lock.lock();
    firing = false;
    if (arm == arms) pending = 0;
    idle.notify_all();
  }
};

Countdown::Countdown(DelayedTasks& timers, std::string label, std::function<void()> onExpired)
    : timers_(timers), label_(std::move(label)), state_(std::make_shared<State>()) {
  state_->onExpired = std::move(onExpired);
}

Countdown::~Countdown() {
  stop();
}

void Countdown::arm(int32_t ticks) {
  uint64_t arm;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopped) return;
    arm = ++state_->arms;
    state_->pending = ticks > 0 ? ticks : 0;
  }
  if (ticks <= 0) return;
  timers_.runAfter(label_, kTick * ticks, [state = state_, arm] { state->expire(arm); });
}

int32_t Countdown::remaining() const {
  std::lock_guard lock(state_->mutex);
  return state_->pending;
}

void Countdown::stop() {
  std::unique_lock lock(state_->mutex);
  state_->stopped = true;
  state_->pending = 0;
  state_->idle.wait(lock, [this] { return !state_->firing; });
}

}  // namespace velt
