// How the settings ask the device layer to send the button masks to the mice
// again. The device layer implements it.
#pragma once

#include <cstdint>

namespace velt {

class ConfigurationScheduler {
 public:
  virtual ~ConfigurationScheduler() = default;
  // Runs the configuration pass after the given number of 0.2 s ticks.
  virtual void armConfigCountdown(int32_t ticks) = 0;
};

}  // namespace velt
