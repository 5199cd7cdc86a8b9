// The agent's process-wide state, one instance of each, wired together at
// start-up. Tests build their own instances instead.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/action_system.h"
#include "app/focus_follower.h"
#include "app/overlay_system.h"
#include "app/stand_in_devices.h"
#include "core/desktop_entries.h"
#include "core/file_locations.h"
#include "core/pointer_modes.h"
#include "core/profiles.h"
#include "core/serial_queue.h"
#include "core/session_events.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/device_directory.h"
#include "device/device_layer.h"
#include "device/model_catalogue.h"
#include "platform/hid/crash_restore.h"
#include "platform/hid/hidraw_transport.h"
#include "platform/process/qt_main_thread.h"
#include "ui/agent_commands.h"

namespace velt {

// Why the command line's requests that act on mice or keys are refused while
// another session has the seat.
inline constexpr std::string_view kSessionAwayRefusal =
    "another session has the seat; this agent acts on no mouse or key until it is back";

// The agent's own desktop entry id, which its windows carry.
inline constexpr std::string_view kAgentApplicationId = "quorin.driver.velt";

class Agent : public SessionEvents {
 public:
  // devices: replaces the device layer as the window sees it (tests and
  // tools); nullptr uses the real one over hidraw.
  explicit Agent(FileLocations locations, std::unique_ptr<StandInDevices> devices = nullptr);
  // Stops whatever is still running.
  ~Agent() override;

  // Start-up hooks of the layers that the application wires in (see
  // docs/architecture.md, start-up order). Tests replace them to watch the
  // order.
  struct StartupHooks {
    // Steps 2 to 4: the overlay window with its spotlight view and redraw
    // loop.
    std::function<void()> createOverlay;
    // Step 7: the device layer and its event taps; false when they could
    // not be started.
    std::function<bool()> initDeviceLayer;
  };
  StartupHooks hooks;

  // Loads the settings, then the model catalogue; then creates the virtual
  // keyboard and pointer and the command line's queue.
  void start();
  // After the devices were restored: lets go of what the command line
  // holds, stops the device layer's threads, then releases every key the
  // agent holds, then the timer thread. Safe to call twice.
  void stop();
  // SessionEvents. Waking from sleep configures every mouse again and asks
  // each whether it still answers as it did. Leaving the seat releases
  // everything the agent holds (the command line's presses, the mice's held
  // buttons), hides the overlay, gives every mouse its buttons back and
  // closes the mice's nodes and the virtual devices; the command line's
  // runs, presses and releases are refused until the session has the seat
  // again; then the mice are found, taken over and configured anew.
  void resumed() override;
  void sessionActiveChanged(bool active) override;

  // After stop(): a thread still waits for a device that does not answer.
  bool waitingOnDevice() { return !devicesOverride_ && deviceLayer_.waitingOnDevice(); }

  // A run, press or release from the command line. It is dispatched on the
  // "velt command" queue, like a button on a device thread; done then gets
  // the empty text, or why it was refused. Before start, after stop and
  // while another session has the seat, done is refused at once.
  void runCommand(const AgentRequest& request, std::function<void(std::string refusal)> done);

  // Called, from any thread, when the agent has to end with status (the HID
  // listener could not start).
  void setQuitHandler(std::function<void(int status)> handler) { quit_ = std::move(handler); }

  const FileLocations& locations() const { return locations_; }
  Settings& settings() { return settings_; }
  SettingsStore& settingsStore() { return store_; }
  // The per-application profiles; focus_ names the application in focus
  // here at each change the desktop reports.
  Profiles& profiles() { return profiles_; }
  // The installed applications, as read from the user's data folders at
  // start, or read again first (fresh). Main thread.
  const DesktopEntries& installedApplications(bool fresh = false);
  // The applications with windows open now, by desktop entry id, the agent
  // left out. Main thread; may wait a quarter of a second for the desktop.
  std::vector<std::string> openApplications();
  const ModelCatalogue& modelCatalogue() const { return catalogue_; }
  DeviceDirectory& devices() {
    return devicesOverride_ ? static_cast<DeviceDirectory&>(*devicesOverride_) : deviceLayer_;
  }
  DeviceLayer& deviceLayer() { return deviceLayer_; }
  // The reports a fatal signal's handler sends the mice.
  CrashRestore& crashRestore() { return crashRestore_; }
  // False while another session has the seat.
  bool sessionActive() const { return sessionActive_.load(); }
  MainThread& mainThread() { return mainThread_; }
  // The one thread for short jobs that wait a while ("velt timers").
  DelayedTasks& timers() { return timers_; }
  PointerModeState& pointerModes() { return pointerModes_; }
  // What a button press does; the device layer calls it.
  ButtonFunctionRunner& buttonFunctionRunner() { return actions_.engine; }
  // The overlay hooks itself in here, and its taps post scroll and volume
  // steps through actions().events.
  ActionSystem& actions() { return actions_; }
  // The overlay, the pointer-mode taps and the takeover of the mice's input.
  OverlaySystem& overlay() { return overlay_; }

 private:
  // First made, last gone: every part below may leave jobs with it.
  TimerThread timers_;
  FileLocations locations_;
  Settings settings_;
  Profiles profiles_;
  // What a press starts: the general table, or the focused application's
  // profile.
  ProfileAssignments profileAssignments_{settings_, profiles_};
  SettingsStore store_;
  ModelCatalogue catalogue_;
  QtMainThread mainThread_;
  PointerModeState pointerModes_;
  // Tells profiles_ of each change of the focus; stopped before the
  // backends that tell it go.
  FocusFollower focus_{profiles_};
  DesktopEntries applications_;  // main thread
  // On GNOME Shell in a Wayland session: the pointer and the focused window,
  // from the agent's shell extension.
  std::unique_ptr<GnomeShellSession> gnomeShell_;
  ActionSystem actions_;

  // The taps' scroll and volume steps, through the action engine's virtual
  // pointer and media keys.
  struct ActionPointerOutput : PointerOutput {
    explicit ActionPointerOutput(SyntheticEvents& events) : events(events) {}
    void postScrollEvent(double vertical, double horizontal) override;
    void volumeStep(bool up) override;
    SyntheticEvents& events;
  };
  ActionPointerOutput pointerOutput_;
  // After the action engine its taps post through, before the device layer
  // that drives it.
  OverlaySystem overlay_;
  CrashRestore crashRestore_;
  HidrawTransport transport_{&crashRestore_};
  DeviceLayer deviceLayer_;
  CommandButtons commandButtons_;
  std::unique_ptr<SerialQueue> commandQueue_;  // main thread only
  std::unique_ptr<StandInDevices> devicesOverride_;
  std::function<void(int)> quit_;
  bool stopped_ = false;
  std::atomic<bool> sessionActive_{true};
};

}  // namespace velt
