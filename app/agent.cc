#include "app/agent.h"

#include "core/log.h"
#include "core/serial_queue.h"

namespace velt {
namespace {

// The window is filled once this long after start-up even when no device
// event arrives.
constexpr int32_t kFirstNoticeMilliseconds = 600;

}  // namespace

Agent::Agent(FileLocations locations)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      deviceLayer_({settings_, catalogue_, transport_, runner_, eventTaps_, mainThread_,
                    systemClock(), nullptr}) {
  store_.setConfigurationScheduler(&deviceLayer_);
  deviceLayer_.setFatalErrorHandler([this] {
    if (quit_) quit_(0);
  });
}

Agent::~Agent() {
  stop();
}

bool Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  if (!deviceLayer_.initDeviceLayer()) return false;
  deviceChangeLoop_ = std::thread([this] { followDeviceChanges(); });
  deviceLayer_.scheduleDeviceChangeNotice(kFirstNoticeMilliseconds);
  return true;
}

void Agent::followDeviceChanges() {
  nameCurrentThread("set dev show run");
  while (auto record = deviceLayer_.awaitDeviceChange()) {
    if (!deviceChanged_) continue;
    mainThread_.post([this, record = *record] { deviceChanged_(record); });
  }
}

void Agent::stop() {
  deviceLayer_.restoreDevicesOnQuit();
  deviceLayer_.stop();
  if (deviceChangeLoop_.joinable()) deviceChangeLoop_.join();
}

}  // namespace velt
