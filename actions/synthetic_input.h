// Where synthetic input goes: a virtual keyboard and a virtual pointer. The
// platform backs them with uinput devices; tests record what arrives.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
  // The application's desktop entry id as the desktop itself names it (the
  // shell's window tracker, KWin's desktop file name, a Wayland app id, a
  // toolkit's window property on X11), without ".desktop"; empty when it
  // does not.
  std::string application = {};
  bool operator==(const WindowClass&) const = default;
};

class ActiveWindowQuery {
 public:
  virtual ~ActiveWindowQuery() = default;
  // The class of the active window; nullopt when there is none or it cannot
  // be read. Callable from any thread; returns within a moment.
  virtual std::optional<WindowClass> activeWindowClass() = 0;
};

// Tells each change of the active window as the desktop reports it, never by
// asking it again and again.
class FocusSource {
 public:
  using Handler = std::function<void(const std::optional<WindowClass>&)>;
  virtual ~FocusSource() = default;
  // From now on, handler hears of each change, on whichever thread the
  // desktop's notice arrives, with what activeWindowClass then answers; an
  // empty handler stops it. Main thread. Once this returns, the previous
  // handler is not running and is not called again.
  virtual void watchActiveWindow(Handler handler) = 0;
  // The windows open now that a task bar would list, as the desktop names
  // them; empty when it tells none. Main thread; may wait a quarter of a
  // second for the desktop.
  virtual std::vector<WindowClass> openWindows() { return {}; }
};

// What a focus source keeps: the handler, and the last class told, so that
// only changes go out. The source updates what activeWindowClass answers
// before it tells, and holds no lock of its own while telling.
class FocusNotices {
 public:
  // A handler first hears current(), read under the same lock as tell, so
  // that a change told meanwhile is never overtaken by an older answer.
  void setHandler(FocusSource::Handler handler,
                  const std::function<std::optional<WindowClass>()>& current) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    told_ = false;
    if (handler_) {
      told_ = true;
      last_ = current();
      handler_(last_);
    }
  }
  // Tells the handler of focused unless it was the last told.
  void tell(const std::optional<WindowClass>& focused) {
    std::lock_guard lock(mutex_);
    if (!handler_ || (told_ && last_ == focused)) return;
    told_ = true;
    last_ = focused;
    handler_(focused);
  }

 private:
  std::mutex mutex_;
  FocusSource::Handler handler_;  // guarded by mutex_, and held while it runs
  bool told_ = false;
  std::optional<WindowClass> last_;
};

}  // namespace velt
