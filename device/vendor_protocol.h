// The mice's small vendor protocol: the handshakes that ask them for their model number, and the
// reports that tell them which buttons to hand to the agent.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/clock.h"
#include "device/device_identity.h"
#include "device/hid_transport.h"
#include "device/model_catalogue.h"
#include "device/vendor_reports.h"

namespace velt {

// Device types as identification assigns them and model.json names them.
enum DeviceType : int32_t {
  kDeviceRemoved = 0,
  kDeviceType1 = 1,
  kDeviceType2 = 2,
  kDeviceType6 = 6,
  kDeviceType7 = 7,
  kDeviceType10 = 10,
  kDeviceOtherMouse = 254,
};

// Whether identifying a device of this kind asks the device anything.
bool asksTheDevice(DeviceKind kind);

// "/dev/hidraw3 (0C45:7E20)", for log lines.
std::string describeHidDevice(const HidDeviceInfo& info);

struct HandshakeContext {
  HidTransport& transport;
  Clock& clock;
  std::mutex& probeLock;  // serialises the type-2 handshake
  // Set when the agent quits: no further request is made.
  const std::atomic<bool>* stopping = nullptr;
};

using SubmitIdentification = std::function<void(const DeviceIdentity&)>;

// How a handshake ended.
enum class HandshakeEnd {
  Done,     // whatever the device answered, it was judged
  Silent,   // a request timed out: the device does not answer at all
  Gone,     // the device went away
  Stopped,  // the agent is quitting
};

// Runs the handshake of a classified device on the calling thread, one
// request after another, and submits what it learns: nothing for an ignored
// device or one that does not answer as it must, twice for type 6, once
// otherwise. OtherMouse is the caller's, since it is submitted from the
// identification queue. A request that times out or finds the device gone
// ends the handshake with one log line.
HandshakeEnd identifyDevice(DeviceKind kind, DeviceHandle device, const HidDeviceInfo& info,
                            HandshakeContext& context, const SubmitIdentification& submit);

// Bits 3 and 4 exchanged.
uint8_t swapButtons45(uint8_t mask);

// M: the model's takeover mask limited to the assigned buttons, with the side
// buttons exchanged for type-2 mice that number them the other way round.
uint8_t configurationMask(int32_t type, int32_t modelButtonMask, uint8_t interceptMask,
                          int32_t swap45);

// Whether the configuration pass writes to a device of this type and model id.
bool isConfigurable(int32_t type, int32_t modelId);

}  // namespace velt
