// Where the spotlight hole, the pointer dot and the magnifier lens go on the
// screen. Plain arithmetic, shared by the view and its tests.
//
// Positions are in screen points with the origin at the bottom left of the
// overlay's screen and y growing upwards: the rules below (which way odd
// sizes lean, which edge corrections round) are stated that way. The view
// converts with flipped().
#pragma once

#include <cstdint>

namespace velt {

struct PointF {
  double x = 0;
  double y = 0;
};

struct SizeF {
  double width = 0;
  double height = 0;
};

struct RectF {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const RectF&) const = default;
};

// A square with rounded corners; radius applies to both axes.
struct RoundedRect {
  RectF rect;
  double radius = 0;
};

// The same rectangle with the origin at the top left of a screen of the
// given height and y growing downwards.
RectF flipped(const RectF& r, double screenHeight);

// Draw mode 0: the clear square around pointer p, with corners of a third of
// its side.
RoundedRect spotlightHole(PointF p, int32_t spotlightSize);

// Draw mode 1: a white disc of diameter 44 under a red one of diameter 40.
struct PointerDot {
  RoundedRect rim;
  RoundedRect fill;
};
PointerDot pointerDot(PointF p);

// The square around p that a pointer move repaints: side spotlightSize + 10.
RectF pointerArea(PointF p, int32_t spotlightSize);

// The magnifier lens side: spotlightSize rounded down to a multiple of 8.
int32_t lensSide(int32_t spotlightSize);

// Draw mode 2: the lens around p on a screen of size screen, showing twice
// enlarged a part of a snapshot of snapshotWidth x snapshotHeight pixels that
// covers that screen.
struct MagnifierLayout {
  RoundedRect lens;   // the clip; corners of a third of the side
  RectF destination;  // where the enlarged picture goes, kept on the screen
  // The part of the snapshot shown, in snapshot pixels with the origin at the
  // top left. Empty when there is no picture to show (no snapshot, no screen,
  // or a source outside the snapshot); the rim is drawn all the same.
  RectF source;
  bool hasSource = false;
};
MagnifierLayout magnifierLayout(PointF p, int32_t spotlightSize, SizeF screen, int snapshotWidth,
                                int snapshotHeight);

}  // namespace velt
