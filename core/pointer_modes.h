// Pointer-mode state: written by the action dispatcher while a pointer-mode
// button is held, acted on by the event taps. Read without locks; a stale read
// is tolerated.
#pragma once

#include <atomic>
#include <cstdint>

namespace velt {

enum WheelMode : int32_t { kWheelOff = 0, kWheelHorizontal = 1, kWheelVolume = 2 };
enum MotionMode : int32_t { kMotionOff = 0, kMotionScroll = 1, kMotionVolume = 2 };

struct PointerModeState {
  std::atomic<int32_t> wheelMode{kWheelOff};
  std::atomic<int32_t> motionMode{kMotionOff};
  // Where the pointer was when a motion mode or the overlay was pressed, in
  // global screen coordinates with the origin at the top left.
  std::atomic<double> pointerAnchorX{0};
  std::atomic<double> pointerAnchorY{0};
};

}  // namespace velt
