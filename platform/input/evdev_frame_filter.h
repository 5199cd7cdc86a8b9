// Runs the frames of one grabbed mouse through the taps: motion, wheel and
// buttons become tap events, and what the taps let through goes on to the
// mouse's clone unchanged. Keeps track of what the clone holds down, so that
// no key or button is ever left pressed on it.
#pragma once

#include <linux/input.h>

#include <bitset>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "overlay/pointer_taps.h"

namespace velt {

// The resolution udev's hardware database gives a mouse (its MOUSE_DPI
// property: "800", "800@125", or a list such as "400 *800 1600" with the
// default marked), in counts per inch; 0 when the text names none.
int mouseDotsPerInch(std::string_view hwdbValue);

class FrameFilter {
 public:
  // dotsPerInch: the mouse's resolution, 0 when unknown. The pointer modes
  // see motion in counts of a 1000 dpi mouse, so the same hand movement
  // gives about the same steps whatever the mouse.
  explicit FrameFilter(PointerTaps& taps, int dotsPerInch = 0)
      : taps_(taps), motionScale_(dotsPerInch > 0 ? 1000.0 / dotsPerInch : 1.0) {}

  // frame: the events of one frame, SYN_REPORT last. Appends to out what the
  // clone reports for it; nothing when the taps took all of it.
  void filter(std::span<const input_event> frame, std::vector<input_event>& out);

  // The mouse is going: appends one frame releasing every key and button the
  // clone holds down, and tells the taps that the buttons they saw go down
  // on this mouse are up.
  void releaseAll(std::vector<input_event>& out);

 private:
  bool passKey(const input_event& event);

  PointerTaps& taps_;
  double motionScale_;
  std::bitset<KEY_CNT> cloneDown_;
  uint32_t tappedDown_ = 0;  // bit n: standard button n went down through the taps
};

}  // namespace velt
