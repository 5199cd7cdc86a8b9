// The configuration window's frames, simplified, for the tests and fuzz
// targets that lay it out: a 400-wide picture at (20, 40), 24-point badges,
// 260 x 26 pop-ups at x 16.5 in a 480-high column.
#pragma once

#include "ui/window_layout.h"

namespace velt::testing {

inline WindowGeometry exampleGeometry() {
  WindowGeometry g;
  g.mouseImage = {20, 40, 400, 400};
  for (int s = 0; s < kSlotCount; ++s) {
    g.badges[s] = {0, 0, 24, 24};
    g.popUps[s] = {16.5, 100.0 * s, 260, 26};
    g.captions[s] = {16, 100.0 * s, 200, 18};
  }
  g.buttonViewHeight = 480;
  return g;
}

}  // namespace velt::testing
