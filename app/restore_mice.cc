#include "app/restore_mice.h"

#include <chrono>

#include "app/command_line.h"
#include "core/settings.h"
#include "device/device_layer.h"
#include "device/model_catalogue.h"
#include "platform/hid/hidraw_transport.h"
#include "platform/process/single_instance.h"

namespace velt {
namespace {

// Without an agent nothing takes buttons over or runs their functions.
struct NoTaps : EventTaps {
  bool createEventTaps() override { return true; }
  void setTakingOver(bool) override {}
};
struct NoFunctions : ButtonFunctionRunner {
  void runButtonFunction(uint8_t, int, uint8_t, uint8_t) override {}
};
struct NoWindow : MainThread {
  void post(std::function<void()>) override {}
};

// Longer than any handshake takes: each of its requests ends within the
// kernel's time-out.
constexpr auto kFindingPatience = std::chrono::seconds(30);

}  // namespace

int restoreMice(const FileLocations& locations, std::ostream& out, std::ostream& err) {
  // The agent's lock, held while the mice are restored: no agent starts
  // configuring them meanwhile.
  // Without any lock to be had (its folder is unusable, which the log says),
  // no agent can run either.
  SingleInstance instance(locations.runtimeDir, std::string(kApplicationId));
  if (!instance.acquireLock() && instance.heldByAnotherCopy()) {
    err << "velt-mouse-assistant: an agent is running for this user; it gives the mice their "
           "buttons back itself when it quits (--quit)\n";
    return kExitBadUse;
  }
  Settings settings;  // both masks 0: every button goes back to the mouse
  const ModelCatalogue catalogue = loadModelCatalogue(locations.modelFolder());
  HidrawTransport transport;
  NoTaps taps;
  NoFunctions functions;
  NoWindow window;
  DeviceLayerServices services{settings, catalogue, transport,     functions,
                               taps,     window,    systemClock(), systemClock()};
  services.restoreOnly = true;
  DeviceLayer layer(services);
  bool failed = false;
  layer.setFatalErrorHandler([&failed] { failed = true; });
  if (!layer.initDeviceLayer() || !layer.waitForPresentDevices(kFindingPatience)) {
    err << "velt-mouse-assistant: cannot look for the mice (see the log)\n";
    layer.stop();
    return kExitNoAgent;
  }
  layer.restoreDevicesOnQuit();
  const size_t restored = layer.restoredDevices();
  layer.stop();
  if (restored == 0) {
    out << "velt-mouse-assistant: no supported mouse needed its buttons back\n";
  } else {
    out << "velt-mouse-assistant: " << restored
        << (restored == 1 ? " mouse has all its buttons" : " mice have all their buttons")
        << " back\n";
  }
  return kExitDone;
}

}  // namespace velt
