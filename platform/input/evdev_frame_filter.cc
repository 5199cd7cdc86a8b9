#include "platform/input/evdev_frame_filter.h"

#include "core/number_text.h"
#include "platform/input/uinput_events.h"

namespace velt {
namespace {

// The standard mouse buttons in the order of their HID usages: left, right,
// middle, then the side buttons.
constexpr int kMouseButtonCount = 16;

bool isMouseButton(unsigned code) {
  return code >= BTN_MOUSE && code < BTN_MOUSE + kMouseButtonCount;
}

bool isMotion(const input_event& e) {
  return e.type == EV_REL && (e.code == REL_X || e.code == REL_Y);
}

bool isWheel(const input_event& e) {
  return e.type == EV_REL && (e.code == REL_WHEEL || e.code == REL_HWHEEL ||
                              e.code == REL_WHEEL_HI_RES || e.code == REL_HWHEEL_HI_RES);
}

}  // namespace

int mouseDotsPerInch(std::string_view hwdbValue) {
  int first = 0;
  size_t at = 0;
  while (at < hwdbValue.size()) {
    size_t end = hwdbValue.find(' ', at);
    if (end == std::string_view::npos) end = hwdbValue.size();
    std::string_view entry = hwdbValue.substr(at, end - at);
    at = end + 1;
    const bool marked = entry.starts_with('*');
    if (marked) entry.remove_prefix(1);
    // The digits before any "@rate".
    const int dpi = leadingInt(entry.substr(0, entry.find('@')));
    if (dpi <= 0) continue;
    if (marked) return dpi;
    if (first == 0) first = dpi;
  }
  return first;
}

void FrameFilter::filter(std::span<const input_event> frame, std::vector<input_event>& out) {
  double dx = 0, dy = 0, notches = 0;
  bool motion = false, wholeNotches = false, fractions = false;
  for (const input_event& e : frame) {
    if (e.type != EV_REL) continue;
    switch (e.code) {
      case REL_X:
        dx += e.value;
        motion = true;
        break;
      case REL_Y:
        dy += e.value;
        motion = true;
        break;
      case REL_WHEEL:
        notches += e.value;
        wholeNotches = true;
        break;
      case REL_HWHEEL:
        wholeNotches = true;
        break;
      case REL_WHEEL_HI_RES:
      case REL_HWHEEL_HI_RES:
        fractions = true;
        break;
      default:
        break;
    }
  }
  // One decision per frame, as the wheel or the sensor moved once. The
  // high-resolution steps between notches follow the decision of the wheel.
  const bool holdPointer =
      motion && taps_.motionEvent(dx * motionScale_, dy * motionScale_) == TapVerdict::Swallow;
  bool takeWheel = false;
  if (wholeNotches) {
    takeWheel = taps_.wheelEvent(notches) == TapVerdict::Swallow;
  } else if (fractions) {
    takeWheel = taps_.wheelTaken();
  }

  const size_t start = out.size();
  bool content = false;
  for (const input_event& e : frame) {
    if (e.type == EV_SYN && e.code == SYN_REPORT) {
      if (content) out.push_back(e);
      continue;
    }
    if ((holdPointer && isMotion(e)) || (takeWheel && isWheel(e))) continue;
    if (e.type == EV_KEY && !passKey(e)) continue;
    out.push_back(e);
    // Scan codes describe a key event; alone they make no frame.
    if (e.type != EV_MSC) content = true;
  }
  if (!content) out.resize(start);
}

bool FrameFilter::passKey(const input_event& e) {
  const unsigned code = e.code;
  if (code >= KEY_CNT) return false;
  const bool button = isMouseButton(code);
  const int number = static_cast<int>(code) - BTN_MOUSE;
  if (e.value == 1) {
    TapVerdict verdict = TapVerdict::Pass;
    if (button) {
      tappedDown_ |= uint32_t{1} << number;
      verdict = taps_.buttonEvent(number, true);
    }
    if (verdict == TapVerdict::Swallow) return false;
    cloneDown_.set(code);
    return true;
  }
  if (e.value == 0) {
    if (button) {
      tappedDown_ &= ~(uint32_t{1} << number);
      taps_.buttonEvent(number, false);
    }
    // A release goes wherever its press went: a press the clone reported is
    // released there even when the taps take the release.
    const bool held = cloneDown_.test(code);
    cloneDown_.reset(code);
    return held;
  }
  // Autorepeat, for keys the clone holds.
  return cloneDown_.test(code);
}

void FrameFilter::releaseAll(std::vector<input_event>& out) {
  bool any = false;
  for (unsigned code = 0; code < KEY_CNT; ++code) {
    if (!cloneDown_.test(code)) continue;
    out.push_back(inputEvent(EV_KEY, static_cast<uint16_t>(code), 0));
    any = true;
  }
  cloneDown_.reset();
  if (any) out.push_back(inputEvent(EV_SYN, SYN_REPORT, 0));
  for (int number = 0; number < kMouseButtonCount; ++number) {
    if (tappedDown_ & (uint32_t{1} << number)) taps_.buttonEvent(number, false);
  }
  tappedDown_ = 0;
}

}  // namespace velt
