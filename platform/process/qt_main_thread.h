// The main thread as the Qt event loop.
#pragma once

#include <QObject>
#include <memory>

#include "core/main_thread.h"

namespace velt {

class QtMainThread : public MainThread {
 public:
  // Make it on the main thread; its tasks are delivered to an object there.
  QtMainThread();
  ~QtMainThread() override;
  // Tasks posted before the application object exists, or after it has gone,
  // are dropped.
  void post(std::function<void()> task) override;

 private:
  std::unique_ptr<QObject> receiver_;
};

}  // namespace velt
