// Fakes for the overlay's collaborators: the device layer's button-mask
// hand-off, the action engine's scroll and volume output, the overlay window;
// and the taps wired to them.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/device_events.h"
#include "overlay/overlay_controller.h"
#include "overlay/pointer_output.h"
#include "overlay/pointer_taps.h"
#include "tests/support/test_support.h"

namespace velt::testing {

// Posts may come from an input thread: last() reads under the lock.
struct FakeButtonMaskSink : ButtonMaskSink {
  bool active = true;
  std::vector<uint8_t> masks;
  mutable std::mutex mutex;
  bool deviceActive() const override { return active; }
  void postButtonMask(uint8_t mask) override {
    std::lock_guard lock(mutex);
    masks.push_back(mask);
  }
  // The last mask posted; 0xFF before any.
  uint8_t last() const {
    std::lock_guard lock(mutex);
    return masks.empty() ? 0xFF : masks.back();
  }
};

struct FakePointerOutput : PointerOutput {
  std::vector<std::pair<double, double>> scrolls;  // (vertical, horizontal)
  std::vector<bool> volumeSteps;                   // true: up
  void postScrollEvent(double vertical, double horizontal) override {
    scrolls.emplace_back(vertical, horizontal);
  }
  void volumeStep(bool up) override { volumeSteps.push_back(up); }
};

// The overlay as the taps see it.
struct FakeOverlayTarget : OverlayTapTarget {
  bool visible = false;
  int32_t mode = kDrawSpotlight;
  int redrawRequests = 0;
  std::vector<float> sizeSteps;
  bool overlayVisible() const override { return visible; }
  int32_t overlayDrawMode() const override { return mode; }
  void requestOverlayRedraw(float) override { ++redrawRequests; }
  void postSizeStep(float delta) override { sizeSteps.push_back(delta); }
};

// Records what the controller asks of the window, one word per call.
struct FakeOverlayWindow : OverlayWindowPort {
  std::vector<std::string> calls;
  int32_t mode = -1;
  void setMode(int32_t drawMode) override {
    mode = drawMode;
    calls.push_back("mode " + std::to_string(drawMode));
  }
  void saveScreen() override { calls.push_back("saveScreen"); }
  void fadeIn() override { calls.push_back("fadeIn"); }
  void fadeOut() override { calls.push_back("fadeOut"); }
  void hideWindow() override { calls.push_back("hide"); }
  void redrawScreen() override { calls.push_back("redraw"); }
  void setNeedsDisplay() override { calls.push_back("display"); }
  bool followsItself = false;
  bool followsPointerItself() const override { return followsItself; }
  size_t count(const std::string& call) const {
    size_t n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }
};

// The three taps over the fakes above, as the input thread sees them. Their
// re-evaluations run when the test advances the delayed tasks.
struct TapsRig {
  PointerModeState modes;
  Settings settings;
  FakeButtonMaskSink buttons;
  FakePointerOutput output;
  FakeOverlayTarget overlay;
  FakeClock delayed;
  PointerTaps taps{modes, settings, &buttons, output, overlay, delayed};

  // Holds the pointer modes and re-evaluates both taps at once, as the
  // dispatcher does on a pointer-mode press or release.
  void hold(int32_t wheelMode, int32_t motionMode) {
    modes.wheelMode = wheelMode;
    modes.motionMode = motionMode;
    reevaluate();
  }
  // The overlay comes up in drawMode.
  void showOverlay(int32_t drawMode) {
    overlay.visible = true;
    overlay.mode = drawMode;
    reevaluate();
  }
  void reevaluate() {
    taps.scheduleWheelTapUpdate(0);
    taps.scheduleMotionTapUpdate(0);
    delayed.advance({});
  }
};

}  // namespace velt::testing
