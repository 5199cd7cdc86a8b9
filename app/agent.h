// The agent's process-wide state, one instance of each, wired together at
// start-up. Tests build their own instances instead.
#pragma once

#include "app/overlay_system.h"
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

  // Main thread, with the application up and before start: the overlay
  // window, hidden.
  void createOverlay() { overlay_.createOverlayWindow(); }
  // Loads the settings, then the model catalogue; then starts the event taps.
  void start();
  // The termination path.
  void stop();

  const FileLocations& locations() const { return locations_; }
  Settings& settings() { return settings_; }
  SettingsStore& settingsStore() { return store_; }
  const ModelCatalogue& modelCatalogue() const { return catalogue_; }
  PointerModeState& pointerModes() { return pointerModes_; }
  OverlaySystem& overlay() { return overlay_; }

 private:
  // Until the device layer and the action engine are wired in: no supported
  // mouse is active, and scroll and volume steps go nowhere.
  struct NoDeviceLayer : ButtonMaskSink {
    bool deviceActive() const override { return false; }
    void postButtonMask(uint8_t) override {}
  };
  struct NoActionEngine : PointerOutput {
    void postScrollEvent(double, double) override {}
    void volumeStep(bool) override {}
  };

  FileLocations locations_;
  Settings settings_;
  SettingsStore store_;
  ModelCatalogue catalogue_;
  PointerModeState pointerModes_;
  QtMainThread mainThread_;
  NoDeviceLayer noDeviceLayer_;
  NoActionEngine noActionEngine_;
  OverlaySystem overlay_;
};

}  // namespace velt
