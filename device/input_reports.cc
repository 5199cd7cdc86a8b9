#include "device/input_reports.h"

#include <utility>

#include "device/vendor_protocol.h"

namespace velt {
namespace {

DecodedReport tooShort(size_t needed) {
  DecodedReport r;
  r.status = DecodedReport::TooShort;
  r.needed = needed;
  return r;
}

DecodedReport buttons(uint8_t mask, uint8_t extraCode = 0) {
  DecodedReport r;
  r.status = DecodedReport::Buttons;
  r.hasMask = true;
  r.mask = mask;
  r.extraCode = extraCode;
  return r;
}

}  // namespace

DecodedReport decodeInputReport(int32_t type, bool swap45, uint8_t reportId, const uint8_t* report,
                                size_t length) {
  switch (type) {
    case kDeviceType1: {
      if (length < 2 || report[0] != kType1ButtonReport) return {};
      const bool withExtra = report[1] == kType1WithExtra;
      if (!withExtra && report[1] != kType1ButtonReport) return {};
      const size_t needed = withExtra ? 5 : 3;
      if (length < needed) return tooShort(needed);
      return buttons(report[2], withExtra ? report[4] : 0);
    }
    case kDeviceType2: {
      if (reportId != kButtonReportId) return {};
      if (length < 4) return tooShort(4);
      return buttons(swap45 ? swapButtons45(report[1]) : report[1], report[3]);
    }
    case kDeviceType6:
      if (reportId != kButtonReportId) return {};
      if (length < 2) return tooShort(2);
      return buttons(report[1]);
    case kDeviceType10:
      if (length < 5) return tooShort(5);
      return buttons(report[4]);
    default:
      return {};
  }
}

void HeldButtons::note(const DecodedReport& report) {
  if (report.status != DecodedReport::Buttons) return;
  if (report.hasMask) mask = report.mask;
  if (report.extraCode == ExtraButtonCodes[0].press) extraButton0 = true;
  if (report.extraCode == ExtraButtonCodes[0].release) extraButton0 = false;
}

void ButtonDispatcher::consumeButtonMask(uint8_t mask) {
  const uint8_t changed = lastButtonMask_ ^ mask;
  lastButtonMask_ = mask;
  for (int n = 0; n <= 5; ++n) {
    const uint8_t bit = static_cast<uint8_t>(1u << n);
    if (!(changed & bit)) continue;
    const bool pressed = mask & bit;
    ButtonAssignmentValue a = assignments_ ? assignments_->standardButton(n)
                                           : settings_.StandardButtonAssignments[n].load();
    if (pressed) {
      pressedStandard_[n] = a;
    } else if (pressedStandard_[n]) {
      a = *std::exchange(pressedStandard_[n], std::nullopt);
    }
    run(a, pressed);
  }
}

void ButtonDispatcher::run(const ButtonAssignmentValue& a, bool pressed) {
  runner_.runButtonFunction(static_cast<uint8_t>(a.code), pressed ? 1 : 0,
                            static_cast<uint8_t>(a.op1), static_cast<uint8_t>(a.op2));
}

void ButtonDispatcher::postExtraButtonCode(uint8_t pressCode, uint8_t releaseCode) {
  for (size_t i = 0; i < ExtraButtonCodes.size(); ++i) {
    if (!extraButtonEnabled_[i].load(std::memory_order_relaxed)) continue;
    const bool press = pressCode != 0 && pressCode == ExtraButtonCodes[i].press;
    const bool release = releaseCode != 0 && releaseCode == ExtraButtonCodes[i].release;
    if (!press && !release) continue;
    ButtonAssignmentValue current =
        assignments_ ? assignments_->extraButton(i) : settings_.ExtraButtonAssignments[i].load();
    if (current.code == 0) current.code = ExtraButtonDefaults[i];
    if (press) {
      // A second press before the release (a lost release code) first ends
      // what the first one started.
      std::optional<ButtonAssignmentValue> earlier = std::exchange(pressedExtra_[i], current);
      if (earlier) run(*earlier, false);
      run(current, true);
    }
    if (release) {
      ButtonAssignmentValue a = current;
      if (pressedExtra_[i]) a = *std::exchange(pressedExtra_[i], std::nullopt);
      run(a, false);
    }
  }
}

void ButtonDispatcher::releaseAll() {
  consumeButtonMask(0);
  for (size_t i = 0; i < pressedExtra_.size(); ++i) {
    std::optional<ButtonAssignmentValue> held = std::exchange(pressedExtra_[i], std::nullopt);
    if (held) run(*held, false);
  }
}

}  // namespace velt
