// The main thread owns every window, view and menu. Other threads hand work
// to it through this interface; the application backs it with its event loop.
#pragma once

#include <functional>

namespace velt {

class MainThread {
 public:
  virtual ~MainThread() = default;
  // Queues task to run on the main thread, after tasks posted before it.
  // Returns at once; callable from any thread.
  virtual void post(std::function<void()> task) = 0;
};

}  // namespace velt
