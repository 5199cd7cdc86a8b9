// A device directory over a fixed list of devices, standing in for the device
// layer where tests and the window snapshots give the agent the devices they
// need.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "app/stand_in_devices.h"

namespace velt {

class FixedDeviceDirectory : public StandInDevices {
 public:
  explicit FixedDeviceDirectory(std::vector<DeviceRecord> devices = {});

  // Replaces the devices and raises a device-change notice at once.
  void setDevices(std::vector<DeviceRecord> devices);
  void shutdown() override;
  int restoreCount() const;

  int32_t countSelectableDevices() override;
  int32_t indexOfSelectedDevice() override;
  DeviceRecord describeDevice(int32_t index) override;
  std::optional<DeviceRecord> awaitDeviceChange() override;
  void selectDevice(int32_t index) override;
  int32_t selectedDeviceIndex() override;
  void scheduleDeviceChangeNotice(int32_t milliseconds) override;
  void restoreDevicesOnQuit() override;

 private:
  using Time = std::chrono::steady_clock::time_point;
  void noticeAt(Time due);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<DeviceRecord> devices_;
  int32_t selected_ = 0;
  std::optional<Time> noticeDue_;
  bool shuttingDown_ = false;
  int restores_ = 0;
};

}  // namespace velt
