// The by-value description of one selectable device, as the configuration
// window shows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

}  // namespace velt
