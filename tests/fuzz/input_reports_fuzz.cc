// Button input of any sequence, with the assignments changing in between:
// either vendor input reports of any device type, decoded and dispatched as
// the device layer does, or standard buttons through the event tap as the
// input takeover sees them. When the device goes, every function a press
// started must have been ended by a release.
#include <algorithm>
#include <array>
#include <vector>

#include "device/input_reports.h"
#include "device/vendor_protocol.h"
#include "overlay/pointer_taps.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Counts the functions started and not yet ended, by what they were started
// with.
class BalanceRunner : public velt::ButtonFunctionRunner {
 public:
  void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) override {
    const std::array<uint8_t, 3> call{code, op1, op2};
    if (pressed) {
      held_.push_back(call);
      return;
    }
    // A release with no press (a release code on its own) is harmless.
    if (auto it = std::find(held_.begin(), held_.end(), call); it != held_.end()) held_.erase(it);
  }
  bool allEnded() const { return held_.empty(); }

 private:
  std::vector<std::array<uint8_t, 3>> held_;
};

// The rest of what the tap needs, doing nothing.
struct Quiet : velt::PointerOutput, velt::OverlayTapTarget, velt::DelayedTasks {
  void postScrollEvent(double, double) override {}
  void volumeStep(bool) override {}
  bool overlayVisible() const override { return false; }
  int32_t overlayDrawMode() const override { return 0; }
  void requestOverlayRedraw(float) override {}
  void postSizeStep(float) override {}
  void runAfter(std::string_view, velt::Clock::Duration, std::function<void()>) override {}
};

// The device layer's side of the tap, handing masks straight on.
struct DirectSink : velt::ButtonMaskSink {
  explicit DirectSink(velt::ButtonDispatcher& d) : dispatcher(d) {}
  bool deviceActive() const override { return true; }
  void postButtonMask(uint8_t mask) override { dispatcher.consumeButtonMask(mask); }
  velt::ButtonDispatcher& dispatcher;
};

constexpr int32_t kTypes[] = {velt::kDeviceType1, velt::kDeviceType2, velt::kDeviceType6,
                              velt::kDeviceType10};

void assign(velt::ButtonAssignment& slot, velt::fuzz::Input& in) {
  // Codes past 30 are left out: they do nothing, presses included.
  slot.store({static_cast<int32_t>(in.pick(31)), in.byte(), in.byte()});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velt::fuzz::Input in(data, size);
  const int32_t type = kTypes[in.pick(std::size(kTypes))];
  const bool swap45 = in.byte() & 1;
  velt::Settings settings;
  velt::ExtraButtonEnabled enabled{};
  const uint8_t enable = in.byte();
  for (size_t i = 0; i < enabled.size(); ++i) enabled[i] = enable & (1u << i);
  BalanceRunner runner;
  velt::ButtonDispatcher dispatcher(settings, enabled, runner);
  velt::HeldButtons held;
  Quiet quiet;
  DirectSink sink(dispatcher);
  velt::PointerModeState modes;
  velt::PointerTaps taps(modes, settings, &sink, quiet, quiet, quiet);
  const bool throughTheTap = enable & 0x80;
  uint32_t tappedDown = 0;

  while (!in.empty()) {
    const uint8_t op = in.byte();
    if (op < 0x40) {
      assign(settings.StandardButtonAssignments[op % 8], in);
      // The window's commit: the button is taken while it is assigned.
      uint8_t intercept = 0;
      for (int n = 1; n < 8; ++n) {
        if (settings.StandardButtonAssignments[n].code.load() != 0) intercept |= 1u << n;
      }
      settings.interceptMask = intercept;
    } else if (op < 0x60) {
      assign(settings.ExtraButtonAssignments[op % 3], in);
    } else if (throughTheTap) {
      // A button of the mouse's own input node.
      const int button = op & 0x07;
      const bool down = op & 0x08;
      if (down) {
        tappedDown |= 1u << button;
      } else {
        tappedDown &= ~(1u << button);
      }
      taps.buttonEvent(button, down);
    } else {
      // One report, as onInputReport hands it on.
      std::array<uint8_t, velt::kInputReportBufferSize> buffer{};
      const auto bytes = in.bytes(in.pick(buffer.size() + 1));
      std::copy(bytes.begin(), bytes.end(), buffer.begin());
      const uint8_t reportId = op & 0x10 ? buffer[0] : 0;
      const auto decoded =
          velt::decodeInputReport(type, swap45, reportId, buffer.data(), bytes.size());
      held.note(decoded);
      if (decoded.status != velt::DecodedReport::Buttons) continue;
      if (decoded.hasMask) dispatcher.consumeButtonMask(decoded.mask);
      if (decoded.extraCode != 0) {
        dispatcher.postExtraButtonCode(decoded.extraCode, 0);
        dispatcher.postExtraButtonCode(0, decoded.extraCode);
      }
    }
  }
  // The device goes: its input node releases what went down through the tap
  // (FrameFilter::releaseAll), and onDeviceRemoved what its reports held.
  for (int button = 0; button < 8; ++button) {
    if (tappedDown & (1u << button)) taps.buttonEvent(button, false);
  }
  if (held.mask != 0) dispatcher.consumeButtonMask(0);
  if (held.extraButton0) {
    dispatcher.postExtraButtonCode(0, static_cast<uint8_t>(velt::ExtraButtonCodes[0].release));
  }
  velt::fuzz::check(runner.allEnded(), "a press outlived its device");
  return 0;
}
