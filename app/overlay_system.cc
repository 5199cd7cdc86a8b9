#include "app/overlay_system.h"

#include "platform/x11_compositing.h"

namespace velt {

OverlaySystem::OverlaySystem(Settings& settings, SettingsStore& store, PointerModeState& modes,
                             MainThread& mainThread, PointerOutput& output, DelayedTasks& timers)
    : overlay(
          settings, [&store] { store.saveSettings(); }, mainThread, timers),
      taps(modes, settings, nullptr, output, overlay, timers),
      takeover(taps, timers),
      settings_(settings) {
  overlay.attach(nullptr, &taps);
}

OverlaySystem::~OverlaySystem() {
  takeover.stop();
}

void OverlaySystem::createOverlayWindow() {
  if (window_) return;
  window_ = std::make_unique<OverlayWindow>(settings_, compositingManagerRunning);
  overlay.attach(window_.get(), &taps);
}

void OverlaySystem::stop() {
  takeover.stop();
}

}  // namespace velt
