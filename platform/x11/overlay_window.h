// The full-screen overlay window: frameless, see-through and transparent to
// input, above every other window including full-screen ones, on every
// workspace. Created hidden at start-up; OverlayController shows it on the
// screen under the pointer and fades it in and out.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "core/delayed_tasks.h"
#include "core/main_thread.h"
#include "core/settings.h"
#include "overlay/magnifier_refresh.h"
#include "overlay/overlay_controller.h"
#include "overlay/spotlight_view.h"
#include "platform/x11/x11_screen_beneath.h"

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
  // Where the windows beneath the overlay can be read: while the magnifier
  // shows, the part of the screen its lens enlarges is read again as the
  // pointer moves and every 0.5 s while it stands still (MagnifierRefresh,
  // timed on delayed). Without it the lens keeps the picture taken as it
  // opened.
  void setScreenBeneath(std::unique_ptr<ScreenBeneath> beneath, MainThread& mainThread,
                        DelayedTasks& delayed);

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
  void refreshLens();
  void captureLens(RectF area);
  void stopLens(bool letGo);

  SpotlightView* view_;
  QPropertyAnimation* fade_;
  std::function<bool()> compositing_;
  std::function<QImage(QScreen*)> grabber_;
  // The picture saveScreen took for the showing that follows it.
  QImage freshPicture_;
  QPointer<QScreen> freshPictureScreen_;
  bool grabFailureLogged_ = false;

  // The live lens.
  std::unique_ptr<ScreenBeneath> beneath_;
  std::unique_ptr<MagnifierRefresh> refresh_;
  QRect shownOn_;  // the screen the overlay covers, while it shows
};

// The screen the pointer is on, or the primary screen.
QScreen* screenUnderPointer();

}  // namespace velt
