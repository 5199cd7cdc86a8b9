#include "app/agent.h"

#include "app/fixed_device_directory.h"
#include "core/log.h"

namespace velt {

Agent::Agent(FileLocations locations, std::unique_ptr<DeviceDirectory> devices)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      actions_(mainThread_, pointerModes_, systemClock()),
      deviceLayer_({settings_, catalogue_, transport_, actions_.engine, eventTaps_, mainThread_,
                    systemClock(), nullptr}),
      devicesOverride_(std::move(devices)) {
  if (devicesOverride_) {
    hooks.initDeviceLayer = [] { return true; };
  } else {
    store_.setConfigurationScheduler(&deviceLayer_);
    hooks.initDeviceLayer = [this] { return deviceLayer_.initDeviceLayer(); };
  }
  deviceLayer_.setFatalErrorHandler([this] {
    if (quit_) quit_(0);
  });
}

Agent::~Agent() {
  stop();
}

void Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  actions_.start();
}

void Agent::stop() {
  if (stopped_) return;
  stopped_ = true;
  deviceLayer_.stop();
  if (auto* fixed = dynamic_cast<FixedDeviceDirectory*>(devicesOverride_.get())) fixed->shutdown();
  // Last, once no button is dispatched any more: no key stays held.
  actions_.stop();
}

}  // namespace velt
