// The agent's process-wide state, one instance of each, wired together at
// start-up. Tests build their own instances instead.
#pragma once

#include "app/action_system.h"
#include "core/file_locations.h"
#include "core/pointer_modes.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/model_catalogue.h"
#include "platform/qt_main_thread.h"

namespace velt {

class Agent {
 public:
  explicit Agent(FileLocations locations);

  // Loads the settings, then the model catalogue; then creates the virtual
  // keyboard and pointer.
  void start();
  // The termination path.
  void stop();

  const FileLocations& locations() const { return locations_; }
  Settings& settings() { return settings_; }
  SettingsStore& settingsStore() { return store_; }
  const ModelCatalogue& modelCatalogue() const { return catalogue_; }
  MainThread& mainThread() { return mainThread_; }
  PointerModeState& pointerModes() { return pointerModes_; }
  // What a button press does; the device layer calls it.
  ButtonFunctionRunner& buttonFunctionRunner() { return actions_.engine; }
  // The overlay hooks itself in here, and its taps post scroll and volume
  // steps through actions().events.
  ActionSystem& actions() { return actions_; }

 private:
  FileLocations locations_;
  Settings settings_;
  SettingsStore store_;
  ModelCatalogue catalogue_;
  QtMainThread mainThread_;
  PointerModeState pointerModes_;
  ActionSystem actions_;
};

}  // namespace velt
