// Links the core libraries into a program of their own; the layering check
// then verifies that nothing of Qt came along.
#include "actions/key_codes.h"
#include "core/serial_queue.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/model_catalogue.h"
#include "overlay/overlay_controller.h"
#include "overlay/spotlight_geometry.h"

int main(int argc, char** argv) {
  velt::Settings settings;
  velt::SettingsStore store(settings, argc > 1 ? argv[1] : "/nonexistent", "/nonexistent");
  auto catalogue = velt::loadModelCatalogue("/nonexistent");
  velt::TimerThread timers;
  struct : velt::MainThread {
    void post(std::function<void()>) override {}
  } mainThread;
  velt::OverlayController overlay(
      settings, [] {}, mainThread, timers);
  overlay.sizeStep(static_cast<float>(argc));
  return static_cast<int>(catalogue.size() + velt::virtualKeyboardKeys().size()) +
         velt::lensSide(argc);
}
