// Lets the X11 overlay follow the pointer without drawing for every motion
// event: with no compositor's frame to wait for (Wayland's windows paint on
// their frame callbacks instead), requests from any thread become at most
// one redraw per 18 ms on the main thread. A request that falls inside the
// 18 ms is kept and served when they are over, so the picture always ends
// where the pointer stopped.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>

#include "core/delayed_tasks.h"
#include "core/main_thread.h"

namespace velt {

inline constexpr std::chrono::milliseconds kRedrawInterval{18};

class RedrawThrottle {
 public:
  // redraw runs on the main thread.
  RedrawThrottle(MainThread& mainThread, DelayedTasks& delayed, std::function<void()> redraw);
  RedrawThrottle(const RedrawThrottle&) = delete;
  RedrawThrottle& operator=(const RedrawThrottle&) = delete;

  // Any thread; cheap while a redraw is already due.
  void request();

 private:
  void startLocked();
  void intervalOver();
  void run();

  MainThread& mainThread_;
  DelayedTasks& delayed_;
  std::function<void()> redraw_;

  std::mutex mutex_;
  bool intervalRunning_ = false;  // a redraw was posted less than 18 ms ago
  bool posted_ = false;           // posted and not yet run
  bool wanted_ = false;           // asked for since the last post
};

}  // namespace velt
