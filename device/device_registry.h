// The table of recognised devices: each device's type and the attributes its
// model gave it, keyed by a handle the registry hands out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/device_directory.h"
#include "device/device_identity.h"
#include "device/device_record.h"
#include "device/input_reports.h"
#include "device/model_catalogue.h"

namespace velt {

// What registration writes for a device, by attribute suffix.
struct DeviceAttributes {
  std::string name;                     // "_name"
  std::vector<ExtraButtonSpec> hidNum;  // "_hid_num"
  std::string image;                    // "_image"
  std::vector<PointF> pos;              // "_pos"
  int32_t swap45 = 0;                   // "_swap45"
  int32_t buttonMask = 0;               // "_button_mask"
  int32_t id = 0;                       // "_id": model id, kAnyModel for input-only handles
  int32_t usbVid = 0;                   // "_usb_vid"
  int32_t usbPid = 0;                   // "_usb_pid"
  int32_t button = 0;                   // "_button"
};

struct RegisteredDevice {
  int32_t type = 0;
  DeviceAttributes attributes;
  bool shortReportLogged = false;  // a short input report has been logged
  HeldButtons held;                // what its reports hold down
};

// Holds only what is attached: a device's entry goes with it, so hot-plug
// costs nothing that stays. Not thread-safe: the device layer calls it on
// its loop alone. Iterates in the order the handles were handed out, which
// is stable while the registry is unchanged.
class DeviceRegistry {
 public:
  // A handle never handed out before, for a device that has just appeared: a
  // stale handle can never reach a device attached later.
  DeviceHandle newHandle();
  // The deviceKey: the handle as signed decimal text.
  static std::string deviceKey(DeviceHandle handle) { return std::to_string(handle); }

  // Enters the device with its model's attributes. False, and nothing
  // changes, when the device has already gone: its identification finished
  // after its removal.
  bool registerDevice(const DeviceIdentity& identity, const ModelDefinition& model);
  // Forgets the device: its entry goes, and a registration that comes later
  // is refused. True when it was registered.
  bool markRemoved(DeviceHandle handle);
  RegisteredDevice* find(DeviceHandle handle);
  const std::map<DeviceHandle, RegisteredDevice>& devices() const { return devices_; }

  // Present devices that the configuration window lists: type not 0 and a
  // model id other than kAnyModel.
  int32_t countSelectable() const;
  // The position among the selectable devices of the first one equal to
  // record in type, model id and USB id; countSelectable() when none is.
  int32_t indexOf(const DeviceRecord& record) const;
  // The index-th selectable device, counting from 0.
  std::optional<DeviceRecord> describe(int32_t index) const;
  // Every selectable device, in order.
  std::vector<DeviceRecord> selectableRecords() const;
  // The USB ids of the present devices, in registry order.
  std::vector<UsbId> registeredUsbIds() const;

 private:
  DeviceHandle nextHandle_ = 1;
  std::set<DeviceHandle> attached_;  // handed out, not yet removed
  std::map<DeviceHandle, RegisteredDevice> devices_;
};

}  // namespace velt
