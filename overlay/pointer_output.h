// What the pointer modes make of the wheel and of motion: scroll events and
// volume key taps. The action engine implements it over its virtual devices.
#pragma once

namespace velt {

class PointerOutput {
 public:
  virtual ~PointerOutput() = default;
  // One scroll event; amounts in lines. vertical > 0 scrolls up, as a wheel
  // turned away from the user does; horizontal > 0 scrolls left. Any thread.
  virtual void postScrollEvent(double vertical, double horizontal) = 0;
  // One press and release of the volume up or volume down media key. Any
  // thread.
  virtual void volumeStep(bool up) = 0;
};

}  // namespace velt
