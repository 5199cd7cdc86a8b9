// A device directory over a fixed list of devices, standing in for the device
// layer where tests and the window snapshots give the agent the devices they
// need. Its notices go out at once, on the caller's thread; one raised
// before there is a handler goes to the first one.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "app/stand_in_devices.h"

namespace velt {

class FixedDeviceDirectory : public StandInDevices {
 public:
  explicit FixedDeviceDirectory(std::vector<DeviceRecord> devices = {});

  // Replaces the devices and raises a device-change notice.
  void setDevices(std::vector<DeviceRecord> devices);
  void shutdown() override;
  int restoreCount() const;

  int32_t countSelectableDevices() override;
  int32_t indexOfSelectedDevice() override;
  DeviceRecord describeDevice(int32_t index) override;
  void onDeviceChange(std::function<void(const DeviceRecord&)> changed) override;
  void selectDevice(int32_t index) override;
  int32_t selectedDeviceIndex() override;
  void scheduleDeviceChangeNotice(int32_t milliseconds) override;
  void restoreDevicesOnQuit() override;

 private:
  void notice();

  mutable std::mutex mutex_;
  std::vector<DeviceRecord> devices_;  // guarded by mutex_
  int32_t selected_ = 0;               // guarded by mutex_
  int restores_ = 0;                   // guarded by mutex_
  // Held while a notice goes out; taken before mutex_.
  std::mutex noticeLock_;
  std::function<void(const DeviceRecord&)> changed_;  // guarded by noticeLock_
  bool missed_ = false;                               // guarded by noticeLock_
  bool shuttingDown_ = false;                         // guarded by noticeLock_
};

}  // namespace velt
