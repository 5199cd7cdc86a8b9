// Tells when the pointer moves on an X display, whatever moves it: any mouse,
// a touchpad, a tablet or a program. XInput 2 raw motion events reach the
// root window of every client that asks for them, whichever window has the
// pointer or holds a grab. Uses a display connection of its own, read on
// the main thread while watching, and asks for nothing while it is not.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct xcb_connection_t;
class QSocketNotifier;

namespace velt {

class X11PointerWatch {
 public:
  // moved runs on the main thread, once for each batch of motion read.
  // display: as for XOpenDisplay; empty means $DISPLAY.
  explicit X11PointerWatch(std::function<void()> moved, std::string display = {});
  ~X11PointerWatch();
  X11PointerWatch(const X11PointerWatch&) = delete;
  X11PointerWatch& operator=(const X11PointerWatch&) = delete;

  // Starts or stops watching. Main thread. Without a display or without
  // XInput 2 it logs why, once, and watches nothing.
  void setWatching(bool on);
  bool watching() const { return watching_; }

 private:
  bool connect();
  void select(bool on);
  void readEvents();

  std::function<void()> moved_;
  std::string display_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  uint8_t inputOpcode_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool watching_ = false;
  bool failed_ = false;
};

}  // namespace velt
