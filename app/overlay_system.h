// The pointer modes and the overlay, one per process: the overlay's state
// machine, the three taps, the takeover of the mice's input and, once the
// application is up, the overlay window.
//
// The device layer creates the taps (takeover as EventTaps), tells them which
// mice are registered (takeover as RegistryObserver) and hides the overlay
// when the last mouse leaves (overlay). The action engine drives the overlay
// (overlay as OverlayControl) and re-evaluates the taps after a pointer-mode
// change (taps as TapControl).
#pragma once

#include <atomic>
#include <memory>

#include "app/session_backend.h"
#include "core/delayed_tasks.h"
#include "core/main_thread.h"
#include "core/pointer_modes.h"
#include "core/serial_queue.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "overlay/overlay_controller.h"
#include "overlay/pointer_output.h"
#include "overlay/pointer_taps.h"
#include "platform/gnome/gnome_shell_session.h"
#include "platform/input/evdev_takeover.h"
#include "platform/kwin/kwin_bridge.h"
#include "platform/wayland/wayland_overlay.h"
#include "platform/x11/overlay_window.h"
#include "platform/x11/x11_pointer_watch.h"

namespace velt {

struct OverlaySystem {
  // output: where scroll and volume steps go. Assigned standard buttons go
  // to the device layer once it is set with taps.setButtonMaskSink. timers
  // runs the delayed jobs and must stop before this goes.
  OverlaySystem(Settings& settings, SettingsStore& store, PointerModeState& modes,
                MainThread& mainThread, PointerOutput& output, DelayedTasks& timers);
  ~OverlaySystem();

  // Main thread, once the QApplication exists: the overlay window, hidden,
  // of the backend the session offers (chooseOverlayBackend).
  // resources: where the KWin script is.
  void createOverlayWindow(const std::filesystem::path& resources);
  OverlayBackend backend() const { return backend_; }
  // The Wayland overlay when it was chosen; it also knows the pointer and,
  // where the compositor tells, the focused application.
  WaylandOverlay* wayland() { return wayland_.get(); }
  // Who knows the focused application on this session, when it is not X11.
  ActiveWindowQuery* activeWindows();
  // Where its changes are told: the same backend.
  FocusSource* focusSource();
  // Gives every mouse back to the system: no tap runs after this. Call
  // before the action engine stops.
  void stop();

  OverlayController overlay;
  PointerTaps taps;
  EvdevTakeover takeover;

 private:
  class FollowingWindow;

  void startKWinGrabs();

  const Settings& settings_;
  MainThread& mainThread_;
  DelayedTasks& timers_;
  OverlayBackend backend_ = OverlayBackend::None;
  std::unique_ptr<OverlayWindow> window_;
  std::unique_ptr<X11PointerWatch> pointerWatch_;
  std::unique_ptr<FollowingWindow> following_;
  std::unique_ptr<WaylandOverlay> wayland_;
  std::unique_ptr<KWinBridge> kwin_;
  std::unique_ptr<ShellOverlay> shellOverlay_;
  // KWin's pictures for the magnifier, taken off the main thread; last, so
  // that it is joined first.
  std::atomic<bool> kwinGrabFailureLogged_{false};
  std::unique_ptr<SerialQueue> grabs_;
};

}  // namespace velt
