// Showing and hiding the spotlight, pointer-dot and magnifier overlay, as the
// action dispatcher and the device layer drive it.
#pragma once

#include <cstdint>

namespace velt {

enum DrawMode : int32_t { kDrawSpotlight = 0, kDrawPointerDot = 1, kDrawMagnifier = 2 };

class OverlayControl {
 public:
  virtual ~OverlayControl() = default;
  // Shows the overlay in drawMode, or hides it when visible. Any thread.
  virtual void toggleOverlay(int32_t drawMode) = 0;
  // A Spotlight press. Main thread.
  virtual void spotlightPressed() = 0;
  // Main thread.
  virtual void setOverlayShown(bool show, int32_t drawMode) = 0;
  // Main thread.
  virtual void hideOverlayIfVisible() = 0;
  // The Spotlight hold check has shown the pointer dot. Any thread.
  virtual bool spotlightHeld() const = 0;
};

// Re-evaluation of the wheel and motion taps after a pointer-mode change.
class TapControl {
 public:
  virtual ~TapControl() = default;
  virtual void scheduleWheelTapUpdate(float delaySeconds) = 0;
  virtual void scheduleMotionTapUpdate(float delaySeconds) = 0;
};

// The event taps the device layer creates when it starts.
class EventTaps {
 public:
  virtual ~EventTaps() = default;
  // Creates the motion, wheel and button taps; false when any cannot be made.
  virtual bool createEventTaps() = 0;
  // While false the mice are left to the system: every node taken over is
  // handed back and its copy removed; true takes them over again. Any
  // thread; returns at once, and the changes follow in call order.
  virtual void setTakingOver(bool takeOver) = 0;
};

}  // namespace velt
