#include "app/agent.h"

#include "app/fixed_device_directory.h"
#include "core/log.h"

namespace velt {

Agent::Agent(FileLocations locations, std::unique_ptr<DeviceDirectory> devices)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      devices_(std::move(devices)),
      actions_(mainThread_, pointerModes_, systemClock()) {
  if (!devices_) devices_ = std::make_unique<FixedDeviceDirectory>();
}

Agent::~Agent() = default;

void Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  actions_.start();
}

void Agent::stop() {
  if (auto* fixed = dynamic_cast<FixedDeviceDirectory*>(devices_.get())) fixed->shutdown();
  // Last, once no button is dispatched any more: no key stays held.
  actions_.stop();
}

}  // namespace velt
