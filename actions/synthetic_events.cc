#include "actions/synthetic_events.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "actions/key_codes.h"
#include "core/log.h"

namespace velt {
namespace {

constexpr std::array<int32_t, 5> kModifierKeys = {kVkControl, kVkOption, kVkShift, kVkCommand,
                                                  kVkCapsLock};

// Larger steps than this are a fault of the caller; they are cut to it so the
// conversion to whole units stays defined.
constexpr double kMaxScrollLines = 1e6;
constexpr int32_t kUnitsPerLine = 120;

// Adds lines to a carried fraction and takes out the whole high-resolution
// units, leaving the rest in fraction.
int32_t takeWholeUnits(double& fraction, double lines) {
  if (!std::isfinite(lines)) lines = 0;
  double units = std::clamp(lines, -kMaxScrollLines, kMaxScrollLines) * kUnitsPerLine + fraction;
  double whole = std::trunc(units);
  fraction = units - whole;
  return static_cast<int32_t>(whole);
}

// Adds sent units to the partial line and takes out the lines it completes.
int32_t takeWholeLines(int32_t& partial, int32_t units) {
  partial += units;
  int32_t lines = partial / kUnitsPerLine;
  partial -= lines * kUnitsPerLine;
  return lines;
}

}  // namespace

SyntheticEvents::SyntheticEvents(SyntheticInput& input, PointerLocator& pointer)
    : input_(input), pointer_(pointer) {}

void SyntheticEvents::postKeyEvent(int32_t virtualKey, bool up) {
  std::lock_guard lock(mutex_);
  if (uint32_t flag = modifierFlagFor(virtualKey)) {
    setModifierState(up ? modifierState_ & ~flag : modifierState_ | flag);
    return;
  }
  int32_t code = virtualKey & 0xFF;
  auto key = evdevKeyFor(code);
  if (!key) {
    logUnmappedOnce(unmappedKeysLogged_, code, "key code");
    return;
  }
  held_.set(*key, !up);
  input_.key(*key, !up);
}

void SyntheticEvents::setModifierState(uint32_t next) {
  uint32_t changed = modifierState_ ^ next;
  modifierState_ = next;
  for (int32_t vk : kModifierKeys) {
    uint32_t flag = modifierFlagFor(vk);
    if (changed & flag) input_.key(*evdevKeyFor(vk), (next & flag) != 0);
  }
}

void SyntheticEvents::postSystemKey(int32_t mediaKey, int32_t state) {
  std::lock_guard lock(mutex_);
  auto key = evdevMediaKeyFor(mediaKey);
  if (!key) {
    logUnmappedOnce(unmappedMediaLogged_, mediaKey, "media key type");
    return;
  }
  if (state != kMediaKeyDown && state != kMediaKeyUp) return;
  input_.key(*key, state == kMediaKeyDown);
}

void SyntheticEvents::tapSystemKey(int32_t mediaKey) {
  postSystemKey(mediaKey, kMediaKeyDown);
  postSystemKey(mediaKey, kMediaKeyUp);
}

void SyntheticEvents::postScrollEvent(double vertical, double horizontal) {
  std::lock_guard lock(mutex_);
  ScrollFrame frame;
  frame.verticalHiRes = takeWholeUnits(verticalFraction_, vertical);
  frame.verticalLines = takeWholeLines(verticalPartialLine_, frame.verticalHiRes);
  // The evdev horizontal axis points the other way.
  frame.horizontalHiRes = takeWholeUnits(horizontalFraction_, -horizontal);
  frame.horizontalLines = takeWholeLines(horizontalPartialLine_, frame.horizontalHiRes);
  if (frame == ScrollFrame{}) return;
  input_.scroll(frame);
}

void SyntheticEvents::recordPointerAnchor(PointerModeState& modes) {
  auto at = pointer_.pointerPosition();
  if (!at) return;
  modes.pointerAnchorX.store(at->x, std::memory_order_relaxed);
  modes.pointerAnchorY.store(at->y, std::memory_order_relaxed);
}

uint32_t SyntheticEvents::modifierState() const {
  std::lock_guard lock(mutex_);
  return modifierState_;
}

void SyntheticEvents::postPointerButton(int32_t n, bool down) {
  if (n < 1 || n > 4) return;
  std::lock_guard lock(mutex_);
  const auto index = static_cast<size_t>(n);
  if (heldButtons_.test(index) == down) return;
  heldButtons_.set(index, down);
  input_.pointerButton(static_cast<uint16_t>(kEvdevLeftButton + n), down);
}

void SyntheticEvents::releaseAllKeys() {
  std::lock_guard lock(mutex_);
  for (size_t n = 1; n < heldButtons_.size(); ++n) {
    if (heldButtons_.test(n))
      input_.pointerButton(static_cast<uint16_t>(kEvdevLeftButton + n), false);
  }
  heldButtons_.reset();
  for (size_t code = 0; code < held_.size(); ++code) {
    if (held_.test(code)) input_.key(static_cast<uint16_t>(code), false);
  }
  held_.reset();
  setModifierState(0);
}

void SyntheticEvents::logUnmappedOnce(std::bitset<256>& logged, int32_t code, const char* what) {
  auto index = static_cast<size_t>(std::clamp(code, 0, 255));
  if (logged.test(index)) return;
  logged.set(index);
  logFormat("synthetic key: %s %d has no key on the virtual keyboard; not sent", what, code);
}

}  // namespace velt
