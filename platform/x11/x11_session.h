// What the action engine asks of the X11 display: the class of the active
// window (EWMH _NET_ACTIVE_WINDOW and its WM_CLASS), the pointer position,
// and the window manager's show-desktop mode (_NET_SHOWING_DESKTOP). Uses a
// connection of its own, so any thread may ask; each answer is one or two
// round trips. Without a display every answer is "unknown", the reason is
// logged once, and connecting is tried again at most once per retry interval.
// Changes of the active window are told from a second connection, read on the
// main thread (X11FocusWatch).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/clock.h"

struct xcb_connection_t;

namespace velt {

class X11FocusWatch;

class X11Session : public ActiveWindowQuery, public FocusSource, public PointerLocator {
 public:
  // display: as for XOpenDisplay; empty means $DISPLAY.
  explicit X11Session(Clock& clock, std::string display = {},
                      Clock::Duration retryInterval = std::chrono::seconds(5));
  ~X11Session() override;
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  std::optional<WindowClass> activeWindowClass() override;
  // Main thread, once the Qt application exists.
  void watchActiveWindow(Handler handler) override;
  std::vector<WindowClass> openWindows() override;
  // In root-window pixels.
  std::optional<PointF> pointerPosition() override;

  // The window manager announces _NET_SHOWING_DESKTOP in _NET_SUPPORTED.
  bool supportsShowingDesktop();
  // Asks the window manager to enter show-desktop mode, or to leave it when it
  // is on. False with reason when there is no display.
  bool toggleShowingDesktop(std::string& reason);

  // What the root window shows: rows of width pixels, 4 bytes each (blue,
  // green, red, unused). Empty with reason when there is no display, or the
  // screen is not 24 or 32 bits deep.
  struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
  };
  ScreenPicture grabScreen(std::string& reason);

 private:
  bool connect();  // mutex_ held
  void disconnect();
  uint32_t atom(const char* name);

  Clock& clock_;
  std::string display_;
  Clock::Duration retryInterval_;
  std::mutex mutex_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  std::map<std::string, uint32_t> atoms_;  // for this connection
  bool attempted_ = false;
  Clock::TimePoint nextAttempt_{};
  std::string lastFailure_;
  std::unique_ptr<X11FocusWatch> focusWatch_;  // main thread
};

}  // namespace velt
