// The device core's decisions, apart from the loop that carries them out:
// each handler takes one event, changes the registry, and returns what is to
// be done about it. No threads, no I/O, no logging here; the loop dispatches
// the masks and writes the log lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/device_registry.h"

namespace velt {

// An input report's effects: a mask for the dispatcher, an extra button
// pressed and released at once, and the size a first short report lacked.
struct InputReportEffects {
  std::optional<uint8_t> mask;
  uint8_t extraCode = 0;
  std::optional<size_t> shortOfNeeded;
};
// Decodes the report of a registered device and notes what it holds down;
// nothing for a device that is not registered.
InputReportEffects handleInputReport(DeviceRegistry& registry, DeviceHandle device,
                                     uint8_t reportId, const uint8_t* report, size_t length);

// A removal's effects: whether a registered device went, and what of its
// buttons it still held down, which it will never release.
struct RemovalEffects {
  bool wasPresent = false;
  bool releaseMask = false;
  bool releaseExtraButton0 = false;
};
RemovalEffects handleRemoval(DeviceRegistry& registry, DeviceHandle device);

// Where the selection lands among the selectable devices: an index, and the
// device there, if any.
struct Selection {
  int32_t index = 0;
  std::optional<DeviceRecord> device;
};
// After a device change: the first device equal to the one selected, or
// else the first device.
Selection followSelection(const std::vector<DeviceRecord>& devices, const DeviceRecord& selected);
// The user's choice: index, or the first device when it is out of range.
Selection chooseSelection(const std::vector<DeviceRecord>& devices, int32_t index);

}  // namespace velt
