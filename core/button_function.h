// The one entry of the action engine: what a press or release of an assigned
// button does. The device layer calls it; the action engine implements it.
#pragma once

#include <cstdint>

namespace velt {

class ButtonFunctionRunner {
 public:
  virtual ~ButtonFunctionRunner() = default;
  // code: the FunctionCode; pressed: non-zero for a press, 0 for a release;
  // op1, op2: the recorded key code and ShortcutModifiers (code 27 only).
  // Callable from the identification queue and the listener thread at once.
  virtual void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) = 0;
};

}  // namespace velt
