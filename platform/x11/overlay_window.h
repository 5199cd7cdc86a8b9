// The full-screen overlay window: frameless, see-through and transparent to
// input, above every other window including full-screen ones, on every
// workspace. Created hidden at start-up; OverlayController shows it on the
// screen under the pointer and fades it in and out.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "core/settings.h"
#include "overlay/overlay_controller.h"
#include "overlay/spotlight_view.h"

class QPropertyAnimation;
class QScreen;

namespace velt {

class OverlayWindow : public QWidget, public OverlayWindowPort {
 public:
  // compositing tells whether a compositing manager runs right now; without
  // one the overlay paints over a picture of the screen taken as it shows.
  OverlayWindow(const Settings& settings, std::function<bool()> compositing);
  ~OverlayWindow() override;

  SpotlightView& view() { return *view_; }
  // How pictures of a screen are taken; a screen grab of the root window by
  // default. A null picture means the grab failed.
  void setScreenGrabber(std::function<QImage(QScreen*)> grabber) { grabber_ = std::move(grabber); }

  void setMode(int32_t drawMode) override;
  void saveScreen() override;
  void fadeIn() override;
  void fadeOut() override;
  void hideWindow() override;
  void redrawScreen() override;
  void setNeedsDisplay() override;

 private:
  QImage grabScreen(QScreen* screen);
  void fade(double from, double to);

  SpotlightView* view_;
  QPropertyAnimation* fade_;
  std::function<bool()> compositing_;
  std::function<QImage(QScreen*)> grabber_;
  // The picture saveScreen took for the showing that follows it.
  QImage freshPicture_;
  QPointer<QScreen> freshPictureScreen_;
  bool grabFailureLogged_ = false;
};

// The screen the pointer is on, or the primary screen.
QScreen* screenUnderPointer();

}  // namespace velt
