// The by-value description of one selectable device, as the configuration
// window shows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/model_catalogue.h"

namespace velt {

struct DeviceRecord {
  int32_t modelId = 0;
  int32_t usbVid = 0;
  int32_t usbPid = 0;
  std::string key;   // the deviceKey
  int32_t type = 0;  // 0: the record is empty, no device
  std::string imagePath;
  std::string name;
  int32_t buttonMask = 0;
  std::array<PointF, 5> buttonPos{};
  std::array<PointF, 4> extraPos{};
  std::array<int32_t, 4> extraDown{};
  std::array<int32_t, 4> extraUp{};
  int32_t extraCount = 0;
};

// The position in records of the first one of the same type, model id and
// USB id as record; records.size() when none is.
inline int32_t indexOfDevice(const std::vector<DeviceRecord>& records, const DeviceRecord& record) {
  int32_t index = 0;
  for (const DeviceRecord& r : records) {
    if (r.type == record.type && r.modelId == record.modelId && r.usbVid == record.usbVid &&
        r.usbPid == record.usbPid) {
      break;
    }
    ++index;
  }
  return index;
}

}  // namespace velt
