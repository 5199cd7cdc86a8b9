// Shows and hides the spotlight, pointer-dot and magnifier overlay as the
// Spotlight and Magnifier buttons ask, fades it, keeps it following the
// pointer, and tells the wheel and motion taps when it comes and goes.
//
// The Spotlight button: a short press toggles the dimming spotlight; held for
// 0.4 s it shows the pointer dot until it is released. The Magnifier button
// toggles the magnifier. The overlay counts as visible from the moment it is
// shown until its fade-out has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "core/delayed_tasks.h"
#include "core/main_thread.h"
#include "core/overlay_control.h"
#include "core/settings.h"
#include "overlay/pointer_taps.h"
#include "overlay/redraw_throttle.h"

namespace velt {

// The overlay window as the controller drives it. Main thread only.
class OverlayWindowPort {
 public:
  virtual ~OverlayWindowPort() = default;
  virtual void setMode(int32_t drawMode) = 0;
  // Takes the picture the magnifier enlarges; called while the overlay is
  // hidden, so the picture never shows the overlay itself.
  virtual void saveScreen() = 0;
  // Covers the screen under the pointer and fades in from transparent over
  // 0.2 s, painting the whole view.
  virtual void fadeIn() = 0;
  // Fades from opaque to transparent over 0.2 s; the window stays up.
  virtual void fadeOut() = 0;
  virtual void hideWindow() = 0;
  // Moves the picture to the pointer, repainting the old and new pointer
  // areas only.
  virtual void redrawScreen() = 0;
  // Repaints the whole view.
  virtual void setNeedsDisplay() = 0;
  // True for a window that learns of the pointer's moves by itself and
  // paints once a frame of the compositor's (Wayland, GNOME Shell): it is
  // asked for no redraws, and no redraw interval runs for it.
  virtual bool followsPointerItself() const { return false; }
};

inline constexpr std::chrono::milliseconds kFadeDuration{200};
inline constexpr std::chrono::milliseconds kSpotlightHoldTime{400};
inline constexpr int32_t kSpotlightSizeStep = 10;
inline constexpr int32_t kSpotlightSmallest = 200;
inline constexpr int32_t kSpotlightLargest = 500;

class OverlayController : public OverlayControl, public OverlayTapTarget {
 public:
  // saveSettings writes the settings file; it runs on the main thread.
  OverlayController(Settings& settings, std::function<void()> saveSettings, MainThread& mainThread,
                    DelayedTasks& delayed);

  // Connects the window and the taps; main thread, before the first button
  // press. Without a window the overlay keeps its state but shows nothing.
  void attach(OverlayWindowPort* window, TapControl* taps);

  void toggleOverlay(int32_t drawMode) override;
  void spotlightPressed() override;
  void setOverlayShown(bool show, int32_t drawMode) override;
  void hideOverlayIfVisible() override;
  bool spotlightHeld() const override { return spotlightHeld_.load(std::memory_order_relaxed); }

  bool overlayVisible() const override { return visible_.load(std::memory_order_acquire); }
  int32_t overlayDrawMode() const override { return drawMode_.load(std::memory_order_relaxed); }
  void requestOverlayRedraw(float delaySeconds) override;
  void postSizeStep(float delta) override;

  // One wheel step on the spotlight size: 10 points within 200..500, then
  // the settings are saved and the whole view repainted. Main thread.
  void sizeStep(float delta);

  // Clear while a magnifier is up; set when toggling or losing the last
  // mouse hides the overlay.
  bool magnifierIdle() const { return magnifierIdle_.load(std::memory_order_relaxed); }

 private:
  void show(int32_t drawMode);
  void hide();
  void holdCheck(uint64_t press);
  void fadeOutOver(uint64_t changesAtHide);

  Settings& settings_;
  std::function<void()> saveSettings_;
  MainThread& mainThread_;
  DelayedTasks& delayed_;
  OverlayWindowPort* window_ = nullptr;
  TapControl* taps_ = nullptr;
  RedrawThrottle redraws_;
  std::atomic<bool> redrawsAsked_{true};  // the window wants redraw requests

  std::atomic<bool> visible_{false};
  std::atomic<int32_t> drawMode_{kDrawSpotlight};
  std::atomic<bool> spotlightHeld_{false};
  std::atomic<bool> magnifierIdle_{true};
  // Main thread only. changes_ counts every show and hide, so that a
  // delayed fade-out end can tell whether the overlay changed meanwhile;
  // spotlightEvents_ counts the Spotlight button's presses and early
  // releases, so that a hold check knows whether it is still the last word.
  uint64_t changes_ = 0;
  uint64_t spotlightEvents_ = 0;
  bool fadingOut_ = false;
};

}  // namespace velt
