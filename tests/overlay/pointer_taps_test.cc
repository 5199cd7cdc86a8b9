#include "overlay/pointer_taps.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/overlay/overlay_fakes.h"

namespace velt {
namespace {

class PointerTapsTest : public ::testing::Test, public testing::TapsRig {};

TEST_F(PointerTapsTest, WheelModes) {
  // Held, the wheel passes until the tap is re-evaluated; released, the tap
  // stays on until its next re-evaluation, then lets go.
  modes.wheelMode = kWheelVolume;
  EXPECT_EQ(taps.wheelEvent(1), TapVerdict::Pass);
  EXPECT_FALSE(taps.wheelTaken());
  reevaluate();
  EXPECT_TRUE(taps.wheelTaken());
  modes.wheelMode = kWheelOff;
  EXPECT_EQ(taps.wheelEvent(1), TapVerdict::Pass);
  reevaluate();
  EXPECT_FALSE(taps.wheelTapEnabled());
  EXPECT_EQ(output.volumeSteps.size(), 0u);

  hold(kWheelVolume, kMotionOff);
  EXPECT_EQ(taps.wheelEvent(0), TapVerdict::Swallow);
  taps.wheelEvent(3);
  taps.wheelEvent(-0.25);
  EXPECT_EQ(output.volumeSteps, (std::vector<bool>{true, false})) << "one step an event, by sign";

  hold(kWheelHorizontal, kMotionOff);
  EXPECT_EQ(taps.wheelEvent(0), TapVerdict::Swallow);
  EXPECT_EQ(taps.wheelEvent(-2), TapVerdict::Swallow);
  EXPECT_EQ(output.scrolls, (std::vector<std::pair<double, double>>{{0, 0}, {0, -2}}));
}

TEST_F(PointerTapsTest, WheelResizesTheSpotlightAndMagnifierButNotTheDot) {
  showOverlay(kDrawSpotlight);
  EXPECT_EQ(taps.wheelEvent(1), TapVerdict::Swallow);
  showOverlay(kDrawMagnifier);
  EXPECT_EQ(taps.wheelEvent(-1), TapVerdict::Swallow);
  EXPECT_EQ(overlay.sizeSteps, (std::vector<float>{1, -1}));

  showOverlay(kDrawPointerDot);
  EXPECT_FALSE(taps.wheelTaken());
  EXPECT_EQ(taps.wheelEvent(1), TapVerdict::Pass);
  EXPECT_EQ(overlay.sizeSteps.size(), 2u);

  // One wheel event can both resize and scroll.
  showOverlay(kDrawSpotlight);
  hold(kWheelHorizontal, kMotionOff);
  EXPECT_EQ(taps.wheelEvent(1), TapVerdict::Swallow);
  EXPECT_EQ(overlay.sizeSteps.size(), 3u);
  EXPECT_EQ(output.scrolls, (std::vector<std::pair<double, double>>{{0, 1}}));
}

TEST_F(PointerTapsTest, MotionScrollGrowsWithThePowerOneAndAHalf) {
  hold(kWheelOff, kMotionScroll);
  EXPECT_EQ(taps.motionEvent(0, 4), TapVerdict::Swallow);
  taps.motionEvent(-9, 0);
  taps.motionEvent(2, 1);
  ASSERT_EQ(output.scrolls.size(), 3u);
  EXPECT_DOUBLE_EQ(output.scrolls[0].first, 0.800048);
  EXPECT_EQ(output.scrolls[0].second, 0);
  EXPECT_EQ(output.scrolls[1].first, 0);
  EXPECT_DOUBLE_EQ(output.scrolls[1].second, -2.700162);
  EXPECT_DOUBLE_EQ(output.scrolls[2].first, 0.100006);
  // The root is taken in single precision.
  EXPECT_EQ(output.scrolls[2].second, 0.100006 * 2 * static_cast<double>(std::sqrt(2.0f)));
}

TEST_F(PointerTapsTest, MotionVolumeStepsPastFourAndKeepsTheRemainder) {
  hold(kWheelOff, kMotionVolume);
  taps.motionEvent(5, 2);
  taps.motionEvent(5, 2);
  EXPECT_TRUE(output.volumeSteps.empty()) << "exactly 4.0 is no step";
  EXPECT_EQ(taps.motionEvent(0, 2), TapVerdict::Swallow);
  EXPECT_EQ(output.volumeSteps, (std::vector<bool>{false}));

  // 3.0 left over when the button goes up; the next hold starts from there.
  taps.motionEvent(0, 3);
  hold(kWheelOff, kMotionOff);
  hold(kWheelOff, kMotionVolume);
  taps.motionEvent(0, 1.5);
  EXPECT_EQ(output.volumeSteps, (std::vector<bool>{false, false}));
  taps.motionEvent(0, -4.5);
  EXPECT_EQ(output.volumeSteps, (std::vector<bool>{false, false, true}));

  // Motion under the overlay asks for a redraw and clears the remainder.
  taps.motionEvent(0, 3);
  hold(kWheelOff, kMotionOff);
  showOverlay(kDrawSpotlight);
  EXPECT_EQ(taps.motionEvent(1, 1), TapVerdict::Pass);
  EXPECT_EQ(overlay.redrawRequests, 1);
  hold(kWheelOff, kMotionVolume);
  taps.motionEvent(0, 3);
  EXPECT_EQ(output.volumeSteps.size(), 3u);
}

TEST_F(PointerTapsTest, AssignedButtonsReachTheDispatcher) {
  settings.interceptMask = 0x0C;  // buttons 2 and 3
  EXPECT_EQ(taps.buttonEvent(2, true), TapVerdict::Swallow);
  EXPECT_EQ(taps.buttonEvent(3, true), TapVerdict::Swallow);
  EXPECT_EQ(taps.buttonEvent(2, false), TapVerdict::Swallow);
  EXPECT_EQ(buttons.masks, (std::vector<uint8_t>{0x04, 0x0C, 0x08}));
  // Unassigned while held: the release still reaches the dispatcher, which
  // ends what the press started.
  settings.interceptMask = 0x04;
  EXPECT_EQ(taps.buttonEvent(3, false), TapVerdict::Swallow);
  EXPECT_EQ(buttons.masks.back(), 0x00);
  buttons.masks.clear();

  // Unassigned: tracked, but passed on and nothing posted.
  EXPECT_EQ(taps.buttonEvent(4, true), TapVerdict::Pass);
  EXPECT_EQ(taps.otherButtonMask(), 0x10);
  EXPECT_TRUE(buttons.masks.empty());

  // The primary and secondary buttons are never tapped; 8 and up don't fit.
  settings.interceptMask = 0xFF;
  for (int button : {0, 1, 9, 40}) EXPECT_EQ(taps.buttonEvent(button, true), TapVerdict::Pass);
  EXPECT_EQ(taps.otherButtonMask(), 0x10);
  EXPECT_TRUE(buttons.masks.empty());

  // No supported mouse active: assigned buttons reach the dispatcher but
  // also go on to the system; with no device layer at all, the same.
  buttons.active = false;
  EXPECT_EQ(taps.buttonEvent(2, true), TapVerdict::Pass);
  EXPECT_EQ(buttons.masks.back(), 0x14);
  taps.setButtonMaskSink(nullptr);
  EXPECT_EQ(taps.buttonEvent(5, true), TapVerdict::Pass);
}

}  // namespace
}  // namespace velt
