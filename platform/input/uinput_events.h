// Making evdev events and writing them to a uinput device.
#pragma once

#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <span>

namespace velt {

inline input_event inputEvent(uint16_t type, uint16_t code, int32_t value) {
  input_event e{};
  e.type = type;
  e.code = code;
  e.value = value;
  return e;
}

// Writes events to a uinput device with one write(2), again after a signal.
// False with errno set when they do not all go (EIO for a short write).
inline bool writeEvents(int fd, std::span<const input_event> events) {
  for (;;) {
    ssize_t written = ::write(fd, events.data(), events.size_bytes());
    if (written == static_cast<ssize_t>(events.size_bytes())) return true;
    if (written < 0 && errno == EINTR) continue;
    if (written >= 0) errno = EIO;
    return false;
  }
}

}  // namespace velt
