// The virtual keyboard and pointer, as two uinput devices. Synthetic keys,
// media keys and scroll reports go out through them; each report is one
// write(2). When /dev/uinput cannot be used, one log line says why and how to
// grant access, events are dropped, and the devices are tried again at most
// once per retry interval.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "actions/synthetic_input.h"
#include "core/clock.h"
#include "platform/input/evdev_handles.h"
#include "platform/system/unique_fd.h"

namespace velt {

inline constexpr const char* kVirtualKeyboardName = "VELT Mouse Assistant virtual keyboard";
inline constexpr const char* kVirtualPointerName = "VELT Mouse Assistant virtual pointer";

class UinputOutput : public SyntheticInput {
 public:
  explicit UinputOutput(Clock& clock, std::string devicePath = "/dev/uinput",
                        Clock::Duration retryInterval = std::chrono::seconds(5));
  // Destroys the devices. Release held keys first (SyntheticEvents does).
  ~UinputOutput() override;
  UinputOutput(const UinputOutput&) = delete;
  UinputOutput& operator=(const UinputOutput&) = delete;

  // Creates both devices unless they exist or the last attempt failed less
  // than the retry interval ago. True when they exist. Events sent before
  // open() or after close() are dropped.
  bool open();
  void close();

  void key(uint16_t evdevCode, bool down) override;
  void scroll(const ScrollFrame& frame) override;
  void pointerButton(uint16_t evdevCode, bool down) override;

  // How many times creating the devices was tried.
  int openAttempts() const;
  // The event nodes of the devices ("/dev/input/event7"); empty while closed
  // or when the kernel gives no node name.
  std::string keyboardNode() const;
  std::string pointerNode() const;

 private:
  struct Device {
    UniqueFd fd;
    EvdevUinputPtr uinput;  // goes before its descriptor
  };
  bool ensureOpen();  // mutex_ held
  bool create(Device& device, bool keyboard, std::string& reason);
  void closeDevices();  // mutex_ held
  void failed(const std::string& what);
  std::string accessHint(int error) const;

  Clock& clock_;
  std::string devicePath_;
  Clock::Duration retryInterval_;
  mutable std::mutex mutex_;
  Device keyboard_;
  Device pointer_;
  bool enabled_ = false;
  bool attempted_ = false;
  Clock::TimePoint nextAttempt_{};
  int attempts_ = 0;
  std::string lastFailure_;
  std::string lastWriteFailure_;
};

// Writes one key press or release followed by a sync report, in one write(2).
// False with errno set when the write fails.
bool writeKeyReport(int fd, uint16_t evdevCode, bool down);
// Writes the non-zero axes of frame (high resolution first) and a sync
// report, in one write(2).
bool writeScrollReport(int fd, const ScrollFrame& frame);

}  // namespace velt
