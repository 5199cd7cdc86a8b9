// Tells each change of the active window on an X display: the window
// manager sets _NET_ACTIVE_WINDOW on the root window, and the X server tells
// every client that listens for the root's property changes. Uses a display
// connection of its own, read on the main thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "actions/synthetic_input.h"

struct xcb_connection_t;
class QSocketNotifier;

namespace velt {

class X11FocusWatch {
 public:
  // display: as for XOpenDisplay; empty means $DISPLAY.
  explicit X11FocusWatch(std::string display = {});
  ~X11FocusWatch();
  X11FocusWatch(const X11FocusWatch&) = delete;
  X11FocusWatch& operator=(const X11FocusWatch&) = delete;

  // As FocusSource::watchActiveWindow; main thread. The handler first hears
  // the window active now. Without a display it logs why, once, and tells
  // nothing.
  void watch(FocusSource::Handler handler);

 private:
  bool connect();
  void readEvents();
  uint32_t atom(const char* name);

  std::string display_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  uint32_t activeAtom_ = 0;
  std::map<std::string, uint32_t> atoms_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool failed_ = false;
  FocusNotices notices_;
};

}  // namespace velt
