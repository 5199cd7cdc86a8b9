#include "app/agent.h"

#include "core/log.h"

namespace velt {

Agent::Agent(FileLocations locations)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      overlay_(settings_, store_, pointerModes_, mainThread_, noDeviceLayer_, noActionEngine_) {}

void Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  // The device layer starts the taps when it starts; until it is wired in, here.
  overlay_.takeover.createEventTaps();
}

void Agent::stop() {
  overlay_.stop();
}

}  // namespace velt
