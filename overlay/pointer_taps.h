// The three taps on a supported mouse's own input: the wheel tap (pointer
// modes on the wheel, resizing the spotlight), the motion tap (pointer modes
// on motion, the overlay following the pointer) and the button tap (standard
// buttons handed to the dispatcher). Each decides, one event at a time,
// whether the event goes on to the system; the input thread calls them.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/delayed_tasks.h"
#include "core/pointer_modes.h"
#include "core/settings.h"
#include "device/device_directory.h"
#include "overlay/overlay_control.h"
#include "overlay/pointer_output.h"

namespace velt {

// What the taps need of the overlay.
class OverlayTapTarget {
 public:
  virtual ~OverlayTapTarget() = default;
  // The overlay window is up, a fade-out included. Any thread.
  virtual bool overlayVisible() const = 0;
  // The draw mode the overlay shows, or showed last. Any thread.
  virtual int32_t overlayDrawMode() const = 0;
  // Has the picture follow the pointer, delaySeconds from now. Any thread.
  virtual void requestOverlayRedraw(float delaySeconds) = 0;
  // Has the main thread grow (delta > 0) or shrink (delta < 0) the spotlight
  // by one step and save the settings. Any thread.
  virtual void postSizeStep(float delta) = 0;
};

enum class TapVerdict { Pass, Swallow };

class PointerTaps : public TapControl {
 public:
  // buttons: where assigned standard buttons go; null until the device layer
  // is there, and then no mouse counts as active.
  PointerTaps(PointerModeState& modes, const Settings& settings, ButtonMaskSink* buttons,
              PointerOutput& output, OverlayTapTarget& overlay, DelayedTasks& delayed);
  void setButtonMaskSink(ButtonMaskSink* buttons) { buttons_.store(buttons); }

  // A wheel event; deltaY in notches, > 0 when the wheel turns away from the
  // user. Swallowed while a wheel mode is held or while the spotlight or
  // magnifier is up (the wheel then resizes them).
  TapVerdict wheelEvent(double deltaY);
  // Whether wheel input is being taken right now; for parts of a wheel
  // movement that carry no decision of their own (high-resolution steps
  // between notches).
  bool wheelTaken() const;

  // Pointer motion, in the mouse's own units. Swallow means: hold the pointer
  // where it is (a motion mode is held).
  TapVerdict motionEvent(double deltaX, double deltaY);

  // A press or release of standard button buttonNumber (0 left, 1 right,
  // 2 middle, 3 and up the side buttons). Assigned buttons reach the
  // dispatcher as a button mask and are swallowed while a supported mouse is
  // active.
  TapVerdict buttonEvent(int buttonNumber, bool down);

  // Re-evaluate, after the delay, whether the tap takes events: while its
  // mode is on or the overlay is up.
  void scheduleWheelTapUpdate(float delaySeconds) override;
  void scheduleMotionTapUpdate(float delaySeconds) override;

  bool wheelTapEnabled() const { return wheelTapEnabled_.load(std::memory_order_relaxed); }
  bool motionTapEnabled() const { return motionTapEnabled_.load(std::memory_order_relaxed); }
  // Bit n: standard button n is down, as the button tap saw it.
  uint8_t otherButtonMask() const { return otherButtonMask_; }

 private:
  // The wheel resizes what the overlay shows.
  bool overlayResizes() const;

  PointerModeState& modes_;
  const Settings& settings_;
  std::atomic<ButtonMaskSink*> buttons_;
  PointerOutput& output_;
  OverlayTapTarget& overlay_;
  DelayedTasks& delayed_;

  std::atomic<bool> wheelTapEnabled_{false};
  std::atomic<bool> motionTapEnabled_{false};
  // Input thread only.
  double accumulatedX_ = 0;
  double accumulatedY_ = 0;
  uint8_t otherButtonMask_ = 0;
  uint8_t postedButtonMask_ = 0;  // the mask the dispatcher was last given
};

// The delay of a tap re-evaluation or redraw request as a duration; negative
// and not-a-number delays count as none.
Clock::Duration delayFromSeconds(float seconds);

}  // namespace velt
