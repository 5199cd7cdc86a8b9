// Keyboard shortcuts, media keys and scroll steps as if they came from an
// input device, plus the reading of the pointer position. Callable from any
// thread: the dispatcher's threads post keys, the event taps post scroll and
// volume steps; each post is written before the call returns.
#pragma once

#include <bitset>
#include <cstdint>
#include <mutex>

#include "actions/synthetic_input.h"
#include "core/pointer_modes.h"

namespace velt {

class SyntheticEvents {
 public:
  SyntheticEvents(SyntheticInput& input, PointerLocator& pointer);

  // One key event. The modifier keys 55..59 (the whole value is tested) set
  // or clear their flag in modifierState, and the virtual keyboard's modifier
  // keys are brought in line with it. Any other code presses or releases the
  // key of its low 8 bits; a code without a key is logged once and dropped.
  void postKeyEvent(int32_t virtualKey, bool up);
  void keyDown(int32_t virtualKey) { postKeyEvent(virtualKey, false); }
  void keyUp(int32_t virtualKey) { postKeyEvent(virtualKey, true); }

  // One media key event: state kMediaKeyDown or kMediaKeyUp.
  void postSystemKey(int32_t mediaKey, int32_t state);
  // A media key pressed and released.
  void tapSystemKey(int32_t mediaKey);

  // One scroll step, in lines. Vertical: positive scrolls up. Horizontal:
  // positive scrolls to the left. Sent as high-resolution units (120 a line)
  // with the whole lines they complete; fractions too small to send now are
  // carried into the next step, so a run of small steps adds up exactly.
  void postScrollEvent(double vertical, double horizontal);

  // Presses or releases standard mouse button n (1 secondary, 2 wheel
  // button, 3 and 4 the side buttons) on the virtual pointer; other numbers
  // are dropped.
  void postPointerButton(int32_t n, bool down);

  // Stores the pointer position as the pointer anchor; leaves the anchor as
  // it was when the position cannot be read.
  void recordPointerAnchor(PointerModeState& modes);

  // The modifier flags the agent holds down.
  uint32_t modifierState() const;

  // Releases every key and pointer button the agent holds, modifiers last, and clears
  // modifierState. For quitting, and for a mouse that went away mid-press.
  void releaseAllKeys();

 private:
  void setModifierState(uint32_t next);  // mutex_ held
  void logUnmappedOnce(std::bitset<256>& logged, int32_t code, const char* what);

  SyntheticInput& input_;
  PointerLocator& pointer_;
  mutable std::mutex mutex_;
  uint32_t modifierState_ = 0;
  std::bitset<1024> held_;      // non-modifier evdev keys down
  std::bitset<5> heldButtons_;  // standard buttons down on the virtual pointer
  std::bitset<256> unmappedKeysLogged_;
  std::bitset<256> unmappedMediaLogged_;
  // Scroll remainders: fractions of a high-resolution unit not yet sent, and
  // sent high-resolution units not yet completed into a whole line.
  double verticalFraction_ = 0;
  double horizontalFraction_ = 0;
  int32_t verticalPartialLine_ = 0;
  int32_t horizontalPartialLine_ = 0;
};

}  // namespace velt
