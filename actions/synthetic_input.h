// Where synthetic input goes: a virtual keyboard and a virtual pointer. The
// platform backs them with uinput devices; tests record what arrives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/geometry.h"

namespace velt {

// One scroll report of the virtual pointer. Vertical: positive moves the
// content down (the wheel turned away from the user). Horizontal: positive
// scrolls to the right. High-resolution units are 1/120 of a line.
struct ScrollFrame {
  int32_t verticalHiRes = 0;
  int32_t verticalLines = 0;
  int32_t horizontalHiRes = 0;
  int32_t horizontalLines = 0;
  bool operator==(const ScrollFrame&) const = default;
};

class SyntheticInput {
 public:
  virtual ~SyntheticInput() = default;
  // Presses or releases one evdev key on the virtual keyboard, as one report.
  virtual void key(uint16_t evdevCode, bool down) = 0;
  // Sends one scroll report on the virtual pointer.
  virtual void scroll(const ScrollFrame& frame) = 0;
  // Presses or releases one evdev button on the virtual pointer, as one report.
  virtual void pointerButton(uint16_t evdevCode, bool down) = 0;
};

// Reads where the pointer is, in global screen coordinates with the origin at
// the top left.
class PointerLocator {
 public:
  virtual ~PointerLocator() = default;
  // nullopt when the position cannot be read (the reason is logged once).
  virtual std::optional<PointF> pointerPosition() = 0;
};

// The application that owns the active window.
struct WindowClass {
  std::string instance;   // first WM_CLASS string
  std::string className;  // second WM_CLASS string
};

class ActiveWindowQuery {
 public:
  virtual ~ActiveWindowQuery() = default;
  // The class of the active window; nullopt when there is none or it cannot
  // be read. Callable from any thread; returns within a moment.
  virtual std::optional<WindowClass> activeWindowClass() = 0;
};

}  // namespace velt
