// The agent's process-wide state, one instance of each, wired together at
// start-up. Tests build their own instances instead.
#pragma once

#include <functional>
#include <thread>

#include "app/stand_ins.h"
#include "core/file_locations.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/device_layer.h"
#include "device/model_catalogue.h"
#include "platform/hidraw_transport.h"
#include "platform/qt_main_thread.h"

namespace velt {

class Agent {
 public:
  explicit Agent(FileLocations locations);
  // Runs the termination path if stop() has not.
  ~Agent();

  // Loads the settings, then the model catalogue, then starts the device
  // layer and the loop that follows device changes. False when the device
  // layer cannot start.
  bool start();
  // The termination path: every mouse gets its buttons back, then the device
  // threads stop.
  void stop();

  // Called, from any thread, when the agent has to end with status.
  void setQuitHandler(std::function<void(int status)> handler) { quit_ = std::move(handler); }
  // Receives the selected device's record on the main thread after each
  // device change (an empty record, type 0, when no mouse is left).
  void setDeviceChangeHandler(std::function<void(const DeviceRecord&)> handler) {
    deviceChanged_ = std::move(handler);
  }

  const FileLocations& locations() const { return locations_; }
  Settings& settings() { return settings_; }
  SettingsStore& settingsStore() { return store_; }
  const ModelCatalogue& modelCatalogue() const { return catalogue_; }
  DeviceLayer& deviceLayer() { return deviceLayer_; }

 private:
  void followDeviceChanges();

  FileLocations locations_;
  Settings settings_;
  SettingsStore store_;
  ModelCatalogue catalogue_;
  LoggingButtonRunner runner_;
  NoEventTaps eventTaps_;
  QtMainThread mainThread_;
  HidrawTransport transport_;
  DeviceLayer deviceLayer_;
  std::thread deviceChangeLoop_;
  std::function<void(int)> quit_;
  std::function<void(const DeviceRecord&)> deviceChanged_;
};

}  // namespace velt
