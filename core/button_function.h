// The one entry of the action engine: what a press or release of an assigned
// button does. The device layer calls it; the action engine implements it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/settings.h"

namespace velt {

class ButtonFunctionRunner {
 public:
  virtual ~ButtonFunctionRunner() = default;
  // code: the FunctionCode; pressed: non-zero for a press, 0 for a release;
  // op1, op2: the recorded key code and ShortcutModifiers (code 27 only).
  // Callable from the identification queue and the listener thread at once.
  virtual void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) = 0;
};

// The function code that sends a standard button's own press or release
// through the virtual pointer (op1: the standard button number 1 to 4). Not
// an assignment of its own: a button that the mice divert for another
// application's sake does its own function where the focused one says
// "Default".
inline constexpr uint8_t kFunctionStandardButton = 254;

// What a press of a button starts, as it stands at that moment. The
// dispatcher asks at each press and keeps the answer until the release.
class ButtonAssignmentSource {
 public:
  virtual ~ButtonAssignmentSource() = default;
  // n: the standard button number 0 to 5.
  virtual ButtonAssignmentValue standardButton(size_t n) const = 0;
  // i: the extra button 0 to 2; code 0 is its built-in function.
  virtual ButtonAssignmentValue extraButton(size_t i) const = 0;
};

}  // namespace velt
