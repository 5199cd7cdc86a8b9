// What the configuration window and the application ask of the device layer.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "device/device_record.h"

namespace velt {

class DeviceDirectory {
 public:
  virtual ~DeviceDirectory() = default;
  virtual int32_t countSelectableDevices() = 0;
  virtual int32_t indexOfSelectedDevice() = 0;
  // The index-th selectable device, or an empty record (type 0).
  virtual DeviceRecord describeDevice(int32_t index) = 0;
  // Blocks until the next device-change notice and returns the selected
  // device's record (empty when none is left). nullopt once the device layer
  // is shutting down.
  virtual std::optional<DeviceRecord> awaitDeviceChange() = 0;
  // Main thread: the device picker chose index.
  virtual void selectDevice(int32_t index) = 0;
  virtual int32_t selectedDeviceIndex() = 0;
  // Raises the device-change notice once, about ms milliseconds from now.
  virtual void scheduleDeviceChangeNotice(int32_t milliseconds) = 0;
  // Hands every button back to the mice and waits for the reports to go out.
  virtual void restoreDevicesOnQuit() = 0;
};

}  // namespace velt

namespace velt {

struct UsbId {
  int32_t vendorId = 0;
  int32_t productId = 0;
  bool operator==(const UsbId&) const = default;
};

// What the event taps need from the device layer.
class ButtonMaskSink {
 public:
  virtual ~ButtonMaskSink() = default;
  // A supported mouse is selected and present.
  virtual bool deviceActive() const = 0;
  // Hands a standard-button state (bit n: button n down) to the dispatcher.
  // Any thread; returns at once.
  virtual void postButtonMask(uint8_t mask) = 0;
};

// Learns which supported mice are registered, so that their ordinary input
// nodes can be taken over.
class RegistryObserver {
 public:
  virtual ~RegistryObserver() = default;
  // The USB ids of every registered device (type not 0), in registry order,
  // after each change. Called on a device-layer thread.
  virtual void registeredDevicesChanged(const std::vector<UsbId>& devices) = 0;
};

}  // namespace velt
