// Helpers for the programs that run inside the test guest: console markers,
// finding the device nodes the kernel makes, and reading evdev events with a
// bound on the wait. The host judges a guest run only by the marker lines.
#pragma once

#include <linux/input.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/uhid/uhid_nodes.h"

struct libevdev;

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

// Whether done holds within timeout, asked every 50 ms.
bool waitFor(const std::function<bool()>& done, milliseconds timeout);

// Waits until path no longer exists.
bool waitForGone(const std::string& path, milliseconds timeout);

// Event nodes whose device name equals name.
std::vector<std::string> eventNodesNamed(std::string_view name);

// The event node of the same device name as original that is not original
// (the copy a takeover makes of it), once there; empty when none came.
std::string waitForCopy(const std::string& original, milliseconds timeout);

// An evdev node opened for reading.
class EventReader {
 public:
  explicit EventReader(const std::string& path);
  ~EventReader();
  EventReader(const EventReader&) = delete;
  EventReader& operator=(const EventReader&) = delete;
  bool ok() const { return dev_ != nullptr; }
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
};

// A program of the guest's, as user (0: root) with env added to its
// environment, its output (both streams) read here and, with input, its
// standard input written here; killed at the end unless it ended.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, unsigned user = 0,
                        const std::vector<std::pair<std::string, std::string>>& env = {},
                        bool input = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  void kill(int signal);
  // The next line it prints, without its newline.
  std::string readLine();
  void write(const std::string& line);
  // What it prints until it ends, and its exit status (-1 when it did not
  // exit).
  std::pair<int, std::string> finish();

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  FILE* output_ = nullptr;
};

// "EV_KEY KEY_A 1" for one event.
std::string describe(const input_event& event);
// "EV_KEY KEY_A 1; EV_SYN SYN_REPORT 0; " for several.
std::string describe(const std::vector<input_event>& events);
// True when events hold one of this type, code and value.
bool contains(const std::vector<input_event>& events, int type, int code, int value);

}  // namespace velt::e2e
