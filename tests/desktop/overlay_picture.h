// Checks of the overlay in pictures of a real desktop: a picture taken with
// the overlay up (shot) against one of the same screen without it (plain).
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace velt::rig {

// The test window's pattern: red and green follow x and y, so that every
// small area is unlike its neighbours and an enlargement shows. The window
// can change the blue of it all, for a screen that changes under a still
// pointer.
inline constexpr int kPatternBlue = 200;
inline constexpr int kRecolouredBlue = 120;
QRgb patternAt(int x, int y, int blue = kPatternBlue);
QImage patternPicture(QSize size, int blue = kPatternBlue);
// The pattern, recoloured only inside the magnifier's lens about pointer: an
// overlay that paints a picture taken as it opened around a live lens.
QImage patternRecolouredInLens(QSize size, QPoint pointer, int lensSize);

struct OverlayPicture {
  QImage plain;
  QImage shot;
  QRect monitor;  // the monitor the overlay is on, in picture pixels
  QPoint pointer;
  int size = 310;  // the hole's side; the lens is its multiple of 8 below
  // Some desktops draw the pointer's arrow into their pictures, right of and
  // below the pointer: there the checks look only up and to the left.
  bool arrowDrawn = false;
  int blue = kPatternBlue;  // the pattern checkPattern expects
};

// Each returns an empty text when the picture is right, else what is wrong.
// Spotlight: the hole is centred on the pointer within 2 px and shows the
// screen as it is; around it the monitor is dimmed to a fifth; other
// monitors are untouched.
QString checkSpotlight(const OverlayPicture& p);
// Pointer dot: a red disc with a white rim centred on the pointer within
// 2 px; nothing else changed.
QString checkPointerDot(const OverlayPicture& p);
// Magnifier: every point q of the lens shows what the plain picture has at
// (q + pointer) / 2; outside the lens nothing changed. What is wrong around
// the lens is told first, as "around the lens: ...", so that a screen not yet
// like plain is told apart from a lens that shows something else.
QString checkMagnifier(const OverlayPicture& p);
// Nothing of the overlay remains.
QString checkClear(const OverlayPicture& p);
// The monitor shows the test pattern, unobstructed (plain is not used).
QString checkPattern(const OverlayPicture& p);

}  // namespace velt::rig
