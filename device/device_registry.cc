#include "device/device_registry.h"

#include <algorithm>

namespace velt {
namespace {

bool selectable(const RegisteredDevice& d) {
  return d.type != 0 && d.attributes.id != kAnyModel;
}

}  // namespace

DeviceHandle DeviceRegistry::newHandle() {
  attached_.insert(nextHandle_);
  return nextHandle_++;
}

bool DeviceRegistry::registerDevice(const DeviceIdentity& identity, const ModelDefinition& model) {
  if (!attached_.contains(identity.handle)) return false;
  RegisteredDevice& d = devices_[identity.handle];
  d.type = identity.type;
  d.shortReportLogged = false;
  DeviceAttributes& a = d.attributes;
  a.name = model.name;
  a.hidNum = model.hidNum;
  a.image = model.imagePath;
  a.pos = model.buttonPos;
  a.swap45 = model.swap45;
  a.buttonMask = model.buttonMask;
  a.id = identity.modelId;
  a.usbVid = model.usbVid;
  a.usbPid = model.usbPid;
  a.button = model.buttonMask;
  return true;
}

bool DeviceRegistry::markRemoved(DeviceHandle handle) {
  attached_.erase(handle);
  return devices_.erase(handle) != 0;
}

RegisteredDevice* DeviceRegistry::find(DeviceHandle handle) {
  auto it = devices_.find(handle);
  return it == devices_.end() ? nullptr : &it->second;
}

int32_t DeviceRegistry::countSelectable() const {
  return static_cast<int32_t>(std::count_if(devices_.begin(), devices_.end(),
                                            [](const auto& e) { return selectable(e.second); }));
}

int32_t DeviceRegistry::indexOf(const DeviceRecord& record) const {
  return indexOfDevice(selectableRecords(), record);
}

std::optional<DeviceRecord> DeviceRegistry::describe(int32_t index) const {
  if (index < 0) return std::nullopt;
  for (const auto& [handle, d] : devices_) {
    if (!selectable(d)) continue;
    if (index-- > 0) continue;
    const DeviceAttributes& a = d.attributes;
    DeviceRecord r;
    r.modelId = a.id;
    r.usbVid = a.usbVid;
    r.usbPid = a.usbPid;
    r.key = deviceKey(handle);
    r.type = d.type;
    r.imagePath = a.image;
    r.name = a.name;
    r.buttonMask = a.button;
    for (size_t i = 0; i < r.buttonPos.size() && i < a.pos.size(); ++i) r.buttonPos[i] = a.pos[i];
    const size_t extras = std::min(a.hidNum.size(), r.extraPos.size());
    for (size_t i = 0; i < extras; ++i) {
      r.extraPos[i] = a.hidNum[i].pos;
      r.extraDown[i] = a.hidNum[i].down;
      r.extraUp[i] = a.hidNum[i].up;
    }
    r.extraCount = static_cast<int32_t>(extras);
    return r;
  }
  return std::nullopt;
}

std::vector<DeviceRecord> DeviceRegistry::selectableRecords() const {
  std::vector<DeviceRecord> records;
  for (int32_t i = 0; auto record = describe(i); ++i) records.push_back(std::move(*record));
  return records;
}

std::vector<UsbId> DeviceRegistry::registeredUsbIds() const {
  std::vector<UsbId> ids;
  for (const auto& [handle, d] : devices_) {
    if (d.type != 0) ids.push_back({d.attributes.usbVid, d.attributes.usbPid});
  }
  return ids;
}

}  // namespace velt
