// The agent's process-wide state, one instance of each, wired together at
// start-up. Tests build their own instances instead.
#pragma once

#include "core/file_locations.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/model_catalogue.h"

namespace velt {

class Agent {
 public:
  explicit Agent(FileLocations locations);

  // Loads the settings, then the model catalogue.
  void start();
  // The termination path.
  void stop();

  const FileLocations& locations() const { return locations_; }
  Settings& settings() { return settings_; }
  SettingsStore& settingsStore() { return store_; }
  const ModelCatalogue& modelCatalogue() const { return catalogue_; }

 private:
  FileLocations locations_;
  Settings settings_;
  SettingsStore store_;
  ModelCatalogue catalogue_;
};

}  // namespace velt
