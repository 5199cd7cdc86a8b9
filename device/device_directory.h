// What the configuration window and the application ask of the device layer.
#pragma once

#include <cstdint>
#include <functional>

#include "core/device_events.h"
#include "device/device_record.h"

namespace velt {

class DeviceDirectory {
 public:
  virtual ~DeviceDirectory() = default;
  virtual int32_t countSelectableDevices() = 0;
  virtual int32_t indexOfSelectedDevice() = 0;
  // The index-th selectable device, or an empty record (type 0).
  virtual DeviceRecord describeDevice(int32_t index) = 0;
  // After every device-change notice, changed gets the selected device's
  // record (empty when none is left), on the thread that raised the notice;
  // it should only hand the record on (post it). No call comes once the
  // directory has stopped, or once changed has been replaced (nullptr: no
  // more calls) and this has returned. Set before the directory starts.
  virtual void onDeviceChange(std::function<void(const DeviceRecord&)> changed) = 0;
  // Main thread: the device picker chose index.
  virtual void selectDevice(int32_t index) = 0;
  virtual int32_t selectedDeviceIndex() = 0;
  // Raises the device-change notice once, about ms milliseconds from now.
  virtual void scheduleDeviceChangeNotice(int32_t milliseconds) = 0;
  // Hands every button back to the mice that answer; returns once their
  // reports are written, without waiting for a mouse that does not answer.
  virtual void restoreDevicesOnQuit() = 0;
};

}  // namespace velt
