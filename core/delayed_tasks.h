// Short delayed jobs: "sleep a little, then do one small thing" (fade-out
// ends, tap re-evaluations, hold checks). Each job carries the label of the
// work it does, for debugging.
#pragma once

#include <functional>
#include <string_view>

#include "core/clock.h"

namespace velt {

class DelayedTasks {
 public:
  virtual ~DelayedTasks() = default;
  // Runs task once, about delay from now, on a background thread. Tasks must
  // be short; anything touching the interface posts to the MainThread.
  virtual void runAfter(std::string_view label, Clock::Duration delay,
                        std::function<void()> task) = 0;
};

}  // namespace velt
