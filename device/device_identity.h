// What identification learns about a HID device, the input to model matching.
#pragma once

#include <cstdint>

namespace velt {

// The registry's id for an attached HID device. Never reused while the agent
// runs, so a stale id can never reach another device.
using DeviceHandle = int64_t;

inline constexpr int32_t kAnyModel = -1;

struct DeviceIdentity {
  DeviceHandle handle = 0;
  int32_t type = 0;
  int32_t modelId = 0;  // kAnyModel for input-only interfaces
  int32_t vendorId = 0;
  int32_t productId = 0;
  bool noInput = false;  // no input-report subscription for this handle
};

}  // namespace velt
