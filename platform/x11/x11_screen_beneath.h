// The screen as it is beneath the overlay, on an X display: where the
// screen itself holds the overlay, the windows below it are read from their
// own off-screen storage (the Composite extension) and laid over the root's
// background in their stacking order.
//
// With a compositing manager the top-level windows are redirected already.
// Without one, keep(true) redirects the root's children automatically: the
// server still paints the screen as before, and each window gains storage
// that can be read. The redirection belongs to this connection; keep(false),
// the destructor and the end of the process (a crash too: the server drops
// a gone client's redirections) undo it.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace velt {

// The windows beneath the overlay, read while the magnifier's lens shows.
class ScreenBeneath {
 public:
  virtual ~ScreenBeneath() = default;
  // Keeps the windows' pixels readable (on), or lets them go (off).
  virtual void keep(bool on) = 0;
  // area (global coordinates) as the windows below overlay show it, in one
  // pixel a point; null when it cannot be read.
  virtual QImage picture(const QRect& area, uint32_t overlay) = 0;
};

// One child of the root, as the server lists them (bottom first).
struct StackedWindow {
  uint32_t id = 0;
  QRect frame;  // in root coordinates, the border included
  bool viewable = false;
  bool hasPixels = true;  // not InputOnly
  bool opaque = true;     // no alpha channel: hides what lies below it
};

struct BeneathLayers {
  bool background = true;  // the root's background shows somewhere in area
  // Indices into the windows, bottom first, each with its part of area.
  std::vector<std::pair<size_t, QRect>> windows;
};

// What makes up area beneath overlay: the viewable windows with pixels
// below it that meet area, from the topmost one that covers area whole and
// opaque (nothing below that shows) upwards. Windows above the overlay are
// left out, as is the overlay; without the overlay in the list, all count.
BeneathLayers layersBeneath(const std::vector<StackedWindow>& bottomFirst, uint32_t overlay,
                            const QRect& area);

class X11ScreenBeneath : public ScreenBeneath {
 public:
  // Null when there is no display, or it lacks what reading the windows
  // needs (said in one log line); display as for XOpenDisplay, empty for
  // $DISPLAY.
  static std::unique_ptr<X11ScreenBeneath> open(const std::string& display = {});
  ~X11ScreenBeneath() override;
  X11ScreenBeneath(const X11ScreenBeneath&) = delete;
  X11ScreenBeneath& operator=(const X11ScreenBeneath&) = delete;

  void keep(bool on) override;
  QImage picture(const QRect& area, uint32_t overlay) override;

 private:
  X11ScreenBeneath(xcb_connection_t* connection, uint32_t root);
  QImage read(uint32_t drawable, const QRect& part, bool alpha);
  void background(QImage& canvas, const QRect& area);

  xcb_connection_t* connection_;
  uint32_t root_;
  uint32_t rootPixmapAtom_ = 0;
  bool redirected_ = false;
  bool redirectFailureLogged_ = false;
};

}  // namespace velt
