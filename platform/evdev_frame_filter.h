// Runs the frames of one grabbed mouse through the taps: motion, wheel and
// buttons become tap events, and what the taps let through goes on to the
// mouse's clone unchanged. Keeps track of what the clone holds down, so that
// no key or button is ever left pressed on it.
#pragma once

#include <linux/input.h>

#include <bitset>
#include <cstdint>
#include <span>
#include <vector>

#include "overlay/pointer_taps.h"

namespace velt {

class FrameFilter {
 public:
  explicit FrameFilter(PointerTaps& taps) : taps_(taps) {}

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
  std::bitset<KEY_CNT> cloneDown_;
  uint32_t tappedDown_ = 0;  // bit n: standard button n went down through the taps
};

}  // namespace velt
