// Checks of the overlay in pictures of a real desktop: a picture taken with
// the overlay up (shot) against one of the same screen without it (plain).
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace velt::rig {

// The test window's pattern: red and green follow x and y, so that every
// small area is unlike its neighbours and an enlargement shows. Recoloured,
// its blue changes, so that a picture tells which of the two it holds.
QRgb patternAt(int x, int y, bool recoloured = false);
QImage patternPicture(QSize size, bool recoloured = false);

struct OverlayPicture {
  QImage plain;
  QImage shot;
  QRect monitor;  // the monitor the overlay is on, in picture pixels
  QPoint pointer;
  int size = 310;  // the hole's side; the lens is its multiple of 8 below
  // Some desktops draw the pointer's arrow into their pictures, right of and
  // below the pointer: there the checks look only up and to the left.
  bool arrowDrawn = false;
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
// (q + pointer) / 2; outside the lens nothing changed.
QString checkMagnifier(const OverlayPicture& p);
// Nothing of the overlay remains.
QString checkClear(const OverlayPicture& p);
// The monitor shows the test pattern, unobstructed (plain is not used).
QString checkPattern(const OverlayPicture& p);

}  // namespace velt::rig
