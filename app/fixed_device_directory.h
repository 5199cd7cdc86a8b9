// A device directory over a fixed list of devices. The agent runs on it while
// it has no device layer (an empty list); tests and the window snapshots
// give it the devices they need.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "device/device_directory.h"

namespace velt {

class FixedDeviceDirectory : public DeviceDirectory {
 public:
  explicit FixedDeviceDirectory(std::vector<DeviceRecord> devices = {});

  // Replaces the devices and raises a device-change notice at once.
  void setDevices(std::vector<DeviceRecord> devices);
  // Ends every awaitDeviceChange, now and later, with nullopt.
  void shutdown();
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
