#include "core/clock.h"

#include <thread>

namespace velt {
namespace {

class SystemClock : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  void sleepFor(Duration d) override { std::this_thread::sleep_for(d); }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace velt
