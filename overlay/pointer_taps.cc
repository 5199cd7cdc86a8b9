#include "overlay/pointer_taps.h"

#include <cmath>

namespace velt {
namespace {

constexpr double kMotionScrollFactor = 0.100006;
constexpr double kMotionVolumeThreshold = 4.0;
constexpr int kLeftButton = 0;
constexpr int kRightButton = 1;

// The square root of |v|, in single precision.
double rootOfMagnitude(double v) {
  return std::sqrt(std::fabs(static_cast<float>(v)));
}

}  // namespace

Clock::Duration delayFromSeconds(float seconds) {
  if (!(seconds > 0)) return Clock::Duration::zero();
  return std::chrono::duration_cast<Clock::Duration>(
      std::chrono::duration<double>(static_cast<double>(seconds)));
}

PointerTaps::PointerTaps(PointerModeState& modes, const Settings& settings, ButtonMaskSink* buttons,
                         PointerOutput& output, OverlayTapTarget& overlay, DelayedTasks& delayed)
    : modes_(modes),
      settings_(settings),
      buttons_(buttons),
      output_(output),
      overlay_(overlay),
      delayed_(delayed) {}

bool PointerTaps::overlayResizes() const {
  // The pointer dot has no size; the wheel passes it by.
  return overlay_.overlayVisible() && overlay_.overlayDrawMode() != kDrawPointerDot;
}

bool PointerTaps::wheelTaken() const {
  if (!wheelTapEnabled()) return false;
  return modes_.wheelMode.load(std::memory_order_relaxed) != kWheelOff || overlayResizes();
}

TapVerdict PointerTaps::wheelEvent(double deltaY) {
  if (!wheelTapEnabled()) return TapVerdict::Pass;
  const bool swallow = overlayResizes();
  if (swallow) overlay_.postSizeStep(static_cast<float>(deltaY));
  switch (modes_.wheelMode.load(std::memory_order_relaxed)) {
    case kWheelVolume:
      // One step per wheel event, whatever its size.
      if (deltaY < 0) {
        output_.volumeStep(false);
      } else if (deltaY > 0) {
        output_.volumeStep(true);
      }
      return TapVerdict::Swallow;
    case kWheelHorizontal:
      output_.postScrollEvent(0, deltaY);
      return TapVerdict::Swallow;
    case kWheelOff:
      break;
    default:
      return TapVerdict::Swallow;
  }
  return swallow ? TapVerdict::Swallow : TapVerdict::Pass;
}

TapVerdict PointerTaps::motionEvent(double deltaX, double deltaY) {
  if (!motionTapEnabled()) return TapVerdict::Pass;
  accumulatedY_ += deltaY;
  accumulatedX_ += deltaX;
  int32_t mode = modes_.motionMode.load(std::memory_order_relaxed);
  switch (mode) {
    case kMotionScroll:
      // Grows with the 1.5th power of the motion: slow moves scroll finely,
      // fast ones cover ground.
      output_.postScrollEvent(deltaY * kMotionScrollFactor * rootOfMagnitude(deltaY),
                              kMotionScrollFactor * deltaX * rootOfMagnitude(deltaX));
      break;
    case kMotionVolume:
      // What is left below the threshold carries over to the next hold.
      if (accumulatedY_ > kMotionVolumeThreshold) {
        output_.volumeStep(false);
        accumulatedY_ = 0;
      } else if (accumulatedY_ < -kMotionVolumeThreshold) {
        output_.volumeStep(true);
        accumulatedY_ = 0;
      }
      break;
    default:
      accumulatedX_ = 0;
      accumulatedY_ = 0;
      overlay_.requestOverlayRedraw(0);
      break;
  }
  return mode != kMotionOff ? TapVerdict::Swallow : TapVerdict::Pass;
}

TapVerdict PointerTaps::buttonEvent(int buttonNumber, bool down) {
  // The primary and secondary buttons stay with the system.
  if (buttonNumber == kLeftButton || buttonNumber == kRightButton) return TapVerdict::Pass;
  if (buttonNumber < 0 || buttonNumber > 31) return TapVerdict::Pass;
  auto bit = static_cast<uint8_t>((uint32_t{1} << buttonNumber) & 0xFF);
  uint8_t before = otherButtonMask_;
  otherButtonMask_ = down ? (before | bit) : (before & ~bit);
  uint8_t changed = before ^ otherButtonMask_;
  // A press goes to the dispatcher when its button is assigned; a release
  // also when the dispatcher was told of its press, so that the function the
  // press started ends even if the button was unassigned meanwhile.
  uint8_t wanted = settings_.interceptMask.load(std::memory_order_relaxed);
  if (!down) wanted |= postedButtonMask_;
  if ((wanted & changed) == 0) return TapVerdict::Pass;
  ButtonMaskSink* buttons = buttons_.load();
  if (!buttons) return TapVerdict::Pass;
  postedButtonMask_ = otherButtonMask_;
  buttons->postButtonMask(otherButtonMask_);
  return buttons->deviceActive() ? TapVerdict::Swallow : TapVerdict::Pass;
}

void PointerTaps::scheduleWheelTapUpdate(float delaySeconds) {
  delayed_.runAfter("notify move state change", delayFromSeconds(delaySeconds), [this] {
    wheelTapEnabled_.store(
        modes_.wheelMode.load(std::memory_order_relaxed) != kWheelOff || overlay_.overlayVisible(),
        std::memory_order_relaxed);
  });
}

void PointerTaps::scheduleMotionTapUpdate(float delaySeconds) {
  delayed_.runAfter("notify move state change", delayFromSeconds(delaySeconds), [this] {
    motionTapEnabled_.store(modes_.motionMode.load(std::memory_order_relaxed) != kMotionOff ||
                                overlay_.overlayVisible(),
                            std::memory_order_relaxed);
  });
}

}  // namespace velt
