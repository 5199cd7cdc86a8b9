#include "testing/fixed_device_directory.h"

namespace velt {

FixedDeviceDirectory::FixedDeviceDirectory(std::vector<DeviceRecord> devices)
    : devices_(std::move(devices)) {}

void FixedDeviceDirectory::setDevices(std::vector<DeviceRecord> devices) {
  {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
    if (selected_ >= static_cast<int32_t>(devices_.size())) selected_ = 0;
  }
  notice();
}

void FixedDeviceDirectory::shutdown() {
  std::lock_guard lock(noticeLock_);
  shuttingDown_ = true;
}

int FixedDeviceDirectory::restoreCount() const {
  std::lock_guard lock(mutex_);
  return restores_;
}

int32_t FixedDeviceDirectory::countSelectableDevices() {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(devices_.size());
}

int32_t FixedDeviceDirectory::indexOfSelectedDevice() {
  return selectedDeviceIndex();
}

DeviceRecord FixedDeviceDirectory::describeDevice(int32_t index) {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= static_cast<int32_t>(devices_.size())) return {};
  return devices_[index];
}

void FixedDeviceDirectory::onDeviceChange(std::function<void(const DeviceRecord&)> changed) {
  {
    std::lock_guard lock(noticeLock_);
    changed_ = std::move(changed);
    if (!changed_ || !missed_) return;
  }
  notice();
}

void FixedDeviceDirectory::selectDevice(int32_t index) {
  {
    std::lock_guard lock(mutex_);
    selected_ = index >= 0 && index < static_cast<int32_t>(devices_.size()) ? index : 0;
  }
  notice();
}

int32_t FixedDeviceDirectory::selectedDeviceIndex() {
  std::lock_guard lock(mutex_);
  return selected_;
}

void FixedDeviceDirectory::scheduleDeviceChangeNotice(int32_t) {
  notice();
}

void FixedDeviceDirectory::restoreDevicesOnQuit() {
  std::lock_guard lock(mutex_);
  ++restores_;
}

void FixedDeviceDirectory::notice() {
  std::lock_guard notice(noticeLock_);
  if (shuttingDown_) return;
  missed_ = !changed_;
  if (missed_) return;
  DeviceRecord record;
  {
    std::lock_guard lock(mutex_);
    if (selected_ < static_cast<int32_t>(devices_.size())) record = devices_[selected_];
  }
  changed_(record);
}

}  // namespace velt
