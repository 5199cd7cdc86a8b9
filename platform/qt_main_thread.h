// The main thread as the Qt event loop.
#pragma once

#include "core/main_thread.h"

namespace velt {

class QtMainThread : public MainThread {
 public:
  // Tasks posted before the application object exists, or after it has gone,
  // are dropped.
  void post(std::function<void()> task) override;
};

}  // namespace velt
