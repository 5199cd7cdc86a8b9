// Stand-ins for the parts of the agent that are not built yet: the action
// engine and the event taps. The device layer runs against them meanwhile.
#pragma once

#include "core/button_function.h"
#include "core/log.h"
#include "overlay/overlay_control.h"

namespace velt {

// Logs each button function the device layer asks for, at the debug level.
class LoggingButtonRunner : public ButtonFunctionRunner {
 public:
  void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) override {
    logDebug("runButtonFunction %u %d %u %u", code, pressed, op1, op2);
  }
};

// Event taps that are created at once and take over nothing.
class NoEventTaps : public EventTaps {
 public:
  bool createEventTaps() override { return true; }
};

}  // namespace velt
