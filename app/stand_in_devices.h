// What may stand in for the device layer: the tests and the window snapshots
// run the agent on devices of their own (testing/fixed_device_directory.h).
#pragma once

#include "device/device_directory.h"

namespace velt {

class StandInDevices : public DeviceDirectory {
 public:
  // No device-change notice goes out once this returns; the agent calls it
  // as it stops, where it would stop the device layer.
  virtual void shutdown() = 0;
};

}  // namespace velt
