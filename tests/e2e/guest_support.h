// Helpers for the programs that run inside the test guest: console markers,
// finding the device nodes the kernel makes, and reading evdev events with a
// bound on the wait. The host judges a guest run only by the marker lines.
#pragma once

#include <linux/input.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/uhid/uhid_nodes.h"

struct libevdev;
struct udev;
struct udev_monitor;

namespace velt::e2e {

using std::chrono::milliseconds;

// Writes "velt-e2e: pass <what>" and "velt-e2e: fail <what>: <detail>" lines
// to standard output and counts the failures.
class Markers {
 public:
  void pass(std::string_view what);
  void fail(std::string_view what, std::string_view detail);
  // pass or fail by ok; returns ok.
  bool check(bool ok, std::string_view what, std::string_view detail = {});
  void note(std::string_view text);
  int failures() const { return failures_; }

 private:
  int failures_ = 0;
};

std::string hex(const uint8_t* data, size_t length);
inline std::string hex(const std::vector<uint8_t>& bytes) {
  return hex(bytes.data(), bytes.size());
}

// Kernel uevents from libudev's netlink monitor (no udevd needed).
class UeventMonitor {
 public:
  // subsystem: "hidraw", "input", ...
  explicit UeventMonitor(const char* subsystem);
  ~UeventMonitor();
  UeventMonitor(const UeventMonitor&) = delete;
  UeventMonitor& operator=(const UeventMonitor&) = delete;
  bool ok() const { return monitor_ != nullptr; }
  // Waits for the next event of the subsystem; returns "add /sys/..." or
  // nullopt on timeout.
  std::optional<std::string> next(milliseconds timeout);
  struct udev* context() const {
    return udev_;
  }

 private:
  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
};

// The /dev/input/eventN of the input device at sysPath, once the node exists.
std::optional<std::string> waitForEventNode(const std::string& sysPath, milliseconds timeout);

// Waits until path no longer exists.
bool waitForGone(const std::string& path, milliseconds timeout);

// Event nodes whose device name equals name.
std::vector<std::string> eventNodesNamed(std::string_view name);

// An evdev node opened for reading.
class EventReader {
 public:
  explicit EventReader(const std::string& path);
  ~EventReader();
  EventReader(const EventReader&) = delete;
  EventReader& operator=(const EventReader&) = delete;
  bool ok() const { return dev_ != nullptr; }
  const std::string& error() const { return error_; }
  std::string name() const;
  // The next event, or nullopt when none came within timeout.
  std::optional<input_event> next(milliseconds timeout);
  // Events up to and including the next SYN_REPORT.
  std::vector<input_event> frame(milliseconds timeout);
  // Drops what is queued.
  void drain();
  // Tries to grab the device for this reader alone (and lets go again): 0,
  // or the errno, EBUSY while another program holds it.
  int grab();
  // The keys and buttons the kernel holds as pressed on this device now.
  std::vector<int> keysDown() const;

 private:
  int fd_ = -1;
  struct libevdev* dev_ = nullptr;
  std::string error_;
};

// "EV_KEY KEY_A 1" for one event.
std::string describe(const input_event& event);
// "EV_KEY KEY_A 1; EV_SYN SYN_REPORT 0; " for several.
std::string describe(const std::vector<input_event>& events);
// True when events hold one of this type, code and value.
bool contains(const std::vector<input_event>& events, int type, int code, int value);

}  // namespace velt::e2e
