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
  noticeAt(std::chrono::steady_clock::now());
}

void FixedDeviceDirectory::shutdown() {
  std::lock_guard lock(mutex_);
  shuttingDown_ = true;
  wake_.notify_all();
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

std::optional<DeviceRecord> FixedDeviceDirectory::awaitDeviceChange() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (shuttingDown_) return std::nullopt;
    if (noticeDue_ && std::chrono::steady_clock::now() >= *noticeDue_) {
      noticeDue_.reset();
      if (selected_ >= static_cast<int32_t>(devices_.size())) return DeviceRecord{};
      return devices_[selected_];
    }
    if (noticeDue_) {
      wake_.wait_until(lock, *noticeDue_);
    } else {
      wake_.wait(lock);
    }
  }
}

void FixedDeviceDirectory::selectDevice(int32_t index) {
  {
    std::lock_guard lock(mutex_);
    selected_ = index >= 0 && index < static_cast<int32_t>(devices_.size()) ? index : 0;
  }
  noticeAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
}

int32_t FixedDeviceDirectory::selectedDeviceIndex() {
  std::lock_guard lock(mutex_);
  return selected_;
}

void FixedDeviceDirectory::scheduleDeviceChangeNotice(int32_t milliseconds) {
  noticeAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds));
}

void FixedDeviceDirectory::restoreDevicesOnQuit() {
  std::lock_guard lock(mutex_);
  ++restores_;
}

void FixedDeviceDirectory::noticeAt(Time due) {
  std::lock_guard lock(mutex_);
  if (!noticeDue_ || due < *noticeDue_) noticeDue_ = due;
  wake_.notify_all();
}

}  // namespace velt
