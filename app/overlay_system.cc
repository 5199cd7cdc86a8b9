#include "app/overlay_system.h"

#include "platform/x11_compositing.h"

namespace velt {

OverlaySystem::OverlaySystem(Settings& settings, SettingsStore& store, PointerModeState& modes,
                             MainThread& mainThread, PointerOutput& output)
    : timers(std::make_unique<TimerThread>()),
      overlay(
          settings, [&store] { store.saveSettings(); }, mainThread, *timers),
      taps(modes, settings, nullptr, output, overlay, *timers),
      takeover(taps),
      settings_(settings) {
  overlay.attach(nullptr, &taps);
}

OverlaySystem::~OverlaySystem() {
  takeover.stop();
  // No delayed job may run into what is torn down after this.
  timers.reset();
}

void OverlaySystem::createOverlayWindow() {
  if (window_) return;
  window_ = std::make_unique<OverlayWindow>(settings_, compositingManagerRunning);
  overlay.attach(window_.get(), &taps);
}

void OverlaySystem::createShellOverlay() {
  if (shellOverlay_) return;
  shellOverlay_ = std::make_unique<ShellOverlay>(settings_);
  overlay.attach(shellOverlay_.get(), &taps);
}

void OverlaySystem::stop() {
  takeover.stop();
}

}  // namespace velt
