#include "app/agent.h"

#include "core/log.h"

namespace velt {

Agent::Agent(FileLocations locations)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      actions_(mainThread_, pointerModes_, systemClock()) {}

void Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  actions_.start();
}

void Agent::stop() {
  // Last, once no button is dispatched any more: no key stays held.
  actions_.stop();
}

}  // namespace velt
