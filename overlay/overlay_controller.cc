#include "overlay/overlay_controller.h"

#include <algorithm>

#include "core/log.h"

namespace velt {
namespace {

constexpr float kMotionTapDelayAfterShow = 0.01f;
constexpr float kWheelTapDelayAfterShow = 0.2f;
constexpr float kTapDelayAfterHide = 0.2f;

}  // namespace

OverlayController::OverlayController(Settings& settings, std::function<void()> saveSettings,
                                     MainThread& mainThread, DelayedTasks& delayed)
    : settings_(settings),
      saveSettings_(std::move(saveSettings)),
      mainThread_(mainThread),
      delayed_(delayed),
      redraws_(mainThread, delayed, [this] {
        if (overlayVisible() && window_) window_->redrawScreen();
      }) {}

void OverlayController::attach(OverlayWindowPort* window, TapControl* taps) {
  window_ = window;
  taps_ = taps;
  redrawsAsked_.store(window && !window->followsPointerItself(), std::memory_order_relaxed);
}

void OverlayController::toggleOverlay(int32_t drawMode) {
  mainThread_.post([this, drawMode] {
    // The Spotlight button's release before the hold time.
    if (drawMode == kDrawSpotlight) ++spotlightEvents_;
    if (overlayVisible()) {
      hide();
      magnifierIdle_.store(true, std::memory_order_relaxed);
      return;
    }
    if (drawMode == kDrawMagnifier) {
      magnifierIdle_.store(false, std::memory_order_relaxed);
      if (window_) window_->saveScreen();
    }
    show(drawMode);
  });
}

void OverlayController::spotlightPressed() {
  const uint64_t press = ++spotlightEvents_;
  if (!overlayVisible()) {
    spotlightHeld_.store(false, std::memory_order_relaxed);
    delayed_.runAfter("spotlight hold", kSpotlightHoldTime,
                      [this, press] { mainThread_.post([this, press] { holdCheck(press); }); });
  } else if (spotlightHeld()) {
    hide();
  }
  // Otherwise the release toggles the overlay off.
}

void OverlayController::holdCheck(uint64_t press) {
  // A release before the hold time has shown (and maybe hidden again) the
  // spotlight, and a later press has a check of its own: the dot is only for
  // the last press, still held. Whatever else came and went meanwhile, the
  // magnifier say, the dot replaces it even while it fades out.
  if (press != spotlightEvents_ || (overlayVisible() && !fadingOut_)) return;
  spotlightHeld_.store(true, std::memory_order_relaxed);
  show(kDrawPointerDot);
}

void OverlayController::setOverlayShown(bool showIt, int32_t drawMode) {
  if (showIt) {
    show(drawMode);
  } else {
    hide();
  }
}

void OverlayController::hideOverlayIfVisible() {
  if (!overlayVisible()) return;
  hide();
  magnifierIdle_.store(true, std::memory_order_relaxed);
}

void OverlayController::show(int32_t drawMode) {
  ++changes_;
  fadingOut_ = false;
  drawMode_.store(drawMode, std::memory_order_relaxed);
  if (window_) window_->setMode(drawMode);
  visible_.store(true, std::memory_order_release);
  if (window_) window_->fadeIn();
  requestOverlayRedraw(0);
  if (taps_) {
    taps_->scheduleMotionTapUpdate(kMotionTapDelayAfterShow);
    taps_->scheduleWheelTapUpdate(kWheelTapDelayAfterShow);
  }
}

void OverlayController::hide() {
  uint64_t changesAtHide = ++changes_;
  fadingOut_ = true;
  if (window_) window_->fadeOut();
  delayed_.runAfter("sp fade out", kFadeDuration, [this, changesAtHide] {
    mainThread_.post([this, changesAtHide] { fadeOutOver(changesAtHide); });
  });
}

void OverlayController::fadeOutOver(uint64_t changesAtHide) {
  // A second hide during the fade restarted it; its own end takes the
  // window down.
  if (changes_ != changesAtHide) return;
  fadingOut_ = false;
  if (window_) window_->hideWindow();
  visible_.store(false, std::memory_order_release);
  logDebug("overlay: hidden");
  if (taps_) {
    taps_->scheduleMotionTapUpdate(kTapDelayAfterHide);
    taps_->scheduleWheelTapUpdate(kTapDelayAfterHide);
  }
}

void OverlayController::requestOverlayRedraw(float delaySeconds) {
  if (!redrawsAsked_.load(std::memory_order_relaxed)) return;
  Clock::Duration delay = delayFromSeconds(delaySeconds);
  if (delay == Clock::Duration::zero()) {
    if (overlayVisible()) redraws_.request();
    return;
  }
  delayed_.runAfter("notify device change", delay, [this] {
    if (overlayVisible()) redraws_.request();
  });
}

void OverlayController::postSizeStep(float delta) {
  mainThread_.post([this, delta] { sizeStep(delta); });
}

void OverlayController::sizeStep(float delta) {
  int32_t size = settings_.spotlightSize.load(std::memory_order_relaxed);
  bool stepped = false;
  if (delta < 0) {
    size = std::max(size, kSpotlightSmallest + kSpotlightSizeStep) - kSpotlightSizeStep;
    stepped = true;
  } else if (delta > 0) {
    size = std::min(size, kSpotlightLargest - kSpotlightSizeStep) + kSpotlightSizeStep;
    stepped = true;
  }
  if (stepped) {
    settings_.spotlightSize.store(size, std::memory_order_relaxed);
    if (saveSettings_) saveSettings_();
  }
  if (window_) window_->setNeedsDisplay();
}

}  // namespace velt
