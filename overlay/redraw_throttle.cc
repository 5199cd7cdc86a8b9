#include "overlay/redraw_throttle.h"

namespace velt {

RedrawThrottle::RedrawThrottle(MainThread& mainThread, DelayedTasks& delayed,
                               std::function<void()> redraw)
    : mainThread_(mainThread), delayed_(delayed), redraw_(std::move(redraw)) {}

void RedrawThrottle::request() {
  std::lock_guard lock(mutex_);
  if (intervalRunning_ || posted_) {
    wanted_ = true;
    return;
  }
  startLocked();
}

void RedrawThrottle::startLocked() {
  intervalRunning_ = true;
  posted_ = true;
  wanted_ = false;
  mainThread_.post([this] { run(); });
  delayed_.runAfter("spotlight redraw", kRedrawInterval, [this] { intervalOver(); });
}

void RedrawThrottle::intervalOver() {
  std::lock_guard lock(mutex_);
  intervalRunning_ = false;
  // A busy main thread gets no second redraw queued behind the first.
  if (wanted_ && !posted_) startLocked();
}

void RedrawThrottle::run() {
  {
    // The redraw reads the pointer as it is now, which answers every request
    // made so far.
    std::lock_guard lock(mutex_);
    wanted_ = false;
  }
  redraw_();
  std::lock_guard lock(mutex_);
  posted_ = false;
  if (wanted_ && !intervalRunning_) startLocked();
}

}  // namespace velt
