#include "app/agent.h"

#include "actions/key_codes.h"
#include "app/fixed_device_directory.h"
#include "core/log.h"

namespace velt {

Agent::Agent(FileLocations locations, std::unique_ptr<DeviceDirectory> devices)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      devices_(std::move(devices)),
      actions_(mainThread_, pointerModes_, systemClock()),
      pointerOutput_(actions_.events),
      overlay_(settings_, store_, pointerModes_, mainThread_, pointerOutput_) {
  if (!devices_) devices_ = std::make_unique<FixedDeviceDirectory>();
  actions_.engine.setOverlayControl(&overlay_.overlay);
  actions_.engine.setTapControl(&overlay_.taps);
  hooks.createOverlay = [this] { overlay_.createOverlayWindow(); };
  // The device layer creates the taps when it starts; until it is wired in,
  // they start here.
  hooks.initDeviceLayer = [this] { return overlay_.takeover.createEventTaps(); };
}

Agent::~Agent() {
  actions_.engine.setOverlayControl(nullptr);
  actions_.engine.setTapControl(nullptr);
}

void Agent::ActionPointerOutput::postScrollEvent(double vertical, double horizontal) {
  events.postScrollEvent(vertical, horizontal);
}

void Agent::ActionPointerOutput::volumeStep(bool up) {
  events.tapSystemKey(up ? kMediaSoundUp : kMediaSoundDown);
}

void Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  actions_.start();
}

void Agent::stop() {
  if (auto* fixed = dynamic_cast<FixedDeviceDirectory*>(devices_.get())) fixed->shutdown();
  // The mice go back to the system before the virtual devices the taps post
  // through go away.
  overlay_.stop();
  // Last, once no button is dispatched any more: no key stays held.
  actions_.stop();
}

}  // namespace velt
