#include "app/agent.h"

#include <cstdlib>

#include "actions/key_codes.h"
#include "app/session_backend.h"
#include "core/log.h"

namespace velt {
namespace {

// The language of messages, as the C library takes it from the environment.
std::string messagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

DesktopEntries readInstalledApplications() {
  return readDesktopEntries(applicationFolders(std::getenv("XDG_DATA_HOME"),
                                               std::getenv("XDG_DATA_DIRS"), std::getenv("HOME")),
                            messagesLocale());
}

}  // namespace

Agent::Agent(FileLocations locations, std::unique_ptr<StandInDevices> devices)
    : locations_(std::move(locations)),
      store_(settings_, locations_.settingsFolder, locations_.defaultSettingsFile()),
      actions_(mainThread_, pointerModes_, systemClock()),
      pointerOutput_(actions_.events),
      overlay_(settings_, store_, pointerModes_, mainThread_, pointerOutput_, timers_),
      deviceLayer_({settings_, catalogue_, transport_, actions_.engine, overlay_.takeover,
                    mainThread_, systemClock(), systemClock(), &overlay_.overlay, false, nullptr,
                    &profileAssignments_}),
      commandButtons_(actions_.engine, settings_),
      devicesOverride_(std::move(devices)) {
  store_.setProfiles(&profiles_);
  actions_.engine.setOverlayControl(&overlay_.overlay);
  actions_.engine.setTapControl(&overlay_.taps);
  overlay_.taps.setButtonMaskSink(&deviceLayer_);
  deviceLayer_.setRegistryObserver(&overlay_.takeover);
  hooks.createOverlay = [this] {
    overlay_.createOverlayWindow(locations_.resources);
    // On Wayland the overlay's backend knows the pointer, and the
    // compositor's own means the focused application; X11 knows neither there.
    if (overlay_.backend() == OverlayBackend::GnomeShell) {
      gnomeShell_ = std::make_unique<GnomeShellSession>();
      actions_.queries.use(*gnomeShell_, *gnomeShell_);
    } else if (WaylandOverlay* wayland = overlay_.wayland()) {
      ActiveWindowQuery* windows = overlay_.activeWindows();
      FocusSource* focus = overlay_.focusSource();
      actions_.queries.use(*wayland, windows ? *windows : static_cast<ActiveWindowQuery&>(*wayland),
                           focus ? *focus : static_cast<FocusSource&>(*wayland));
    }
  };
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
  actions_.engine.setOverlayControl(nullptr);
  actions_.engine.setTapControl(nullptr);
}

void Agent::ActionPointerOutput::postScrollEvent(double vertical, double horizontal) {
  events.postScrollEvent(vertical, horizontal);
}

void Agent::ActionPointerOutput::volumeStep(bool up) {
  events.tapSystemKey(up ? kMediaSoundUp : kMediaSoundDown);
}

const DesktopEntries& Agent::installedApplications(bool fresh) {
  if (fresh) {
    applications_ = readInstalledApplications();
    focus_.setEntries(applications_);
  }
  return applications_;
}

std::vector<std::string> Agent::openApplications() {
  return applicationIdsOf(applications_, actions_.queries.openWindows(), kAgentApplicationId);
}

void Agent::start() {
  store_.loadSettings();
  catalogue_ = loadModelCatalogue(locations_.modelFolder());
  logDebug("model catalogue: %zu models from %s", catalogue_.size(),
           locations_.modelFolder().c_str());
  actions_.start();
  applications_ = readInstalledApplications();
  focus_.follow(actions_.queries, applications_);
  commandQueue_ = std::make_unique<SerialQueue>("velt command");
}

void Agent::runCommand(const AgentRequest& request, std::function<void(std::string refusal)> done) {
  if (!commandQueue_) {
    done("the agent is not running");
    return;
  }
  if (!sessionActive_.load()) {
    done(std::string(kSessionAwayRefusal));
    return;
  }
  commandQueue_->post(
      [this, request, done = std::move(done)] { done(commandButtons_.perform(request)); });
}

void Agent::resumed() {
  if (devicesOverride_ || stopped_) return;
  logLine("woke from sleep: configuring the mice again");
  deviceLayer_.recheckDevices();
}

void Agent::sessionActiveChanged(bool active) {
  if (devicesOverride_ || stopped_) return;
  sessionActive_.store(active);
  if (active) {
    logLine("session active: taking the mice back");
    if (commandQueue_) commandQueue_->post([this] { actions_.resume(); });
    deviceLayer_.setSessionActive(true);
    return;
  }
  logLine("session inactive: handing the mice back");
  // What the command line holds is let go of, then the virtual keyboard and
  // pointer go, so that nothing left behind here types into the other
  // session.
  if (commandQueue_) {
    commandQueue_->post([this] {
      commandButtons_.releaseAll();
      actions_.suspend();
    });
  }
  deviceLayer_.setSessionActive(false);
  overlay_.overlay.hideOverlayIfVisible();
}

void Agent::stop() {
  if (stopped_) return;
  stopped_ = true;
  focus_.stop();
  // Functions the command line still holds are let go of first, on their own
  // queue, after any request still queued there.
  if (commandQueue_) {
    commandQueue_->post([this] { commandButtons_.releaseAll(); });
    commandQueue_.reset();
  }
  // The takeover hears nothing more from the device layer; then the mice go
  // back to the system, and buttons they still held reach the dispatcher as
  // releases before the device layer stops.
  deviceLayer_.setRegistryObserver(nullptr);
  overlay_.stop();
  deviceLayer_.stop();
  if (devicesOverride_) devicesOverride_->shutdown();
  // Last, once no button is dispatched any more: no key stays held.
  actions_.stop();
  // No delayed job may run into what is torn down after this.
  timers_.stop();
}

}  // namespace velt
