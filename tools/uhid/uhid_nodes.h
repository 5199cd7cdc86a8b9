// Finding the device nodes the kernel makes for a HID device, through
// libudev's sysfs enumeration (no udevd needed).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velt {

// The nodes of one HID device.
struct HidNodes {
  std::string hidraw;               // /dev/hidrawN
  std::vector<std::string> events;  // /dev/input/eventN
};

// Waits until the HID device whose uevent property key ("HID_UNIQ",
// "HID_PHYS") equals value has a hidraw node and at least eventCount event
// nodes in /dev; nullopt when that did not happen within timeout.
std::optional<HidNodes> waitForHidNodes(const char* key, std::string_view value, size_t eventCount,
                                        std::chrono::milliseconds timeout);

}  // namespace velt
