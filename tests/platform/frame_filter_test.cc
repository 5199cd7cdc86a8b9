#include <gtest/gtest.h>

#include "platform/input/evdev_frame_filter.h"
#include "tests/overlay/overlay_fakes.h"
#include "tests/platform/input_events.h"

namespace velt {
namespace {

using testing::Events;
using testing::frame;
using testing::key;
using testing::rel;

class FrameFilterTest : public ::testing::Test, public testing::TapsRig {
 protected:
  FrameFilter filter{taps};

  Events run(const Events& in) {
    Events out;
    filter.filter(in, out);
    return out;
  }
};

TEST_F(FrameFilterTest, WithoutModesEverythingGoesOnUnchanged) {
  Events in = frame({rel(REL_X, 3), rel(REL_Y, -2), rel(REL_WHEEL, 1), rel(REL_WHEEL_HI_RES, 120),
                     key(BTN_LEFT, 1)});
  EXPECT_EQ(run(in), in);
  Events release = frame({key(BTN_LEFT, 0)});
  EXPECT_EQ(run(release), release);

  // The wheel, whole notches and parts of one, passes the pointer dot.
  showOverlay(kDrawPointerDot);
  EXPECT_EQ(run(in), in);
  Events fraction = frame({rel(REL_WHEEL_HI_RES, 60)});
  EXPECT_EQ(run(fraction), fraction);
}

TEST_F(FrameFilterTest, MotionModeHoldsThePointerAndKeepsTheRestOfTheFrame) {
  hold(kWheelOff, kMotionScroll);
  EXPECT_EQ(run(frame({rel(REL_X, 3), rel(REL_Y, 4), key(BTN_LEFT, 1)})),
            frame({key(BTN_LEFT, 1)}));
  ASSERT_EQ(output.scrolls.size(), 1u) << "one decision for the frame's x and y together";
  EXPECT_DOUBLE_EQ(output.scrolls[0].first, 0.800048);
  EXPECT_TRUE(run(frame({rel(REL_X, 1)})).empty());
}

TEST_F(FrameFilterTest, MotionModesSeeTheSameHandMovementWhateverTheResolution) {
  EXPECT_EQ(mouseDotsPerInch("800@125"), 800);
  EXPECT_EQ(mouseDotsPerInch("400@125 *3200@125 1600@125"), 3200);
  EXPECT_EQ(mouseDotsPerInch("1600 800"), 1600);
  EXPECT_EQ(mouseDotsPerInch(""), 0);
  EXPECT_EQ(mouseDotsPerInch("fast"), 0);

  // An inch of slow movement: 3200 counts on a 3200 dpi mouse, 800 on an
  // 800 dpi one, and about as many volume steps from each (unscaled, the
  // first gave more than three times as many).
  hold(kWheelOff, kMotionVolume);
  FrameFilter fine{taps, 3200};
  FrameFilter coarse{taps, 800};
  Events out;
  for (int i = 0; i < 1600; ++i) fine.filter(frame({rel(REL_Y, 2)}), out);
  const double fineSteps = output.volumeSteps.size();
  for (int i = 0; i < 800; ++i) coarse.filter(frame({rel(REL_Y, 1)}), out);
  const double coarseSteps = output.volumeSteps.size() - fineSteps;
  EXPECT_GT(coarseSteps, 100);
  EXPECT_NEAR(fineSteps / coarseSteps, 1.0, 0.2);
}

TEST_F(FrameFilterTest, WheelModeTakesNotchesAndTheStepsBetweenThem) {
  hold(kWheelHorizontal, kMotionOff);
  EXPECT_TRUE(run(frame({rel(REL_WHEEL_HI_RES, 40)})).empty());
  EXPECT_TRUE(output.scrolls.empty()) << "a third of a notch decides nothing";
  EXPECT_TRUE(run(frame({rel(REL_WHEEL, -1), rel(REL_WHEEL_HI_RES, -120)})).empty());
  EXPECT_TRUE(run(frame({rel(REL_HWHEEL, 1), rel(REL_HWHEEL_HI_RES, 120)})).empty());
  ASSERT_EQ(output.scrolls.size(), 2u);
  EXPECT_EQ(output.scrolls[0], std::make_pair(0.0, -1.0));
  EXPECT_EQ(output.scrolls[1], std::make_pair(0.0, 0.0)) << "tilting gives a wheel event of 0";

  // Motion in the same frame still moves the pointer.
  EXPECT_EQ(run(frame({rel(REL_X, 2), rel(REL_WHEEL, 1)})), frame({rel(REL_X, 2)}));
}

TEST_F(FrameFilterTest, AssignedButtonsAreTakenWithTheirScanCodes) {
  settings.interceptMask = 0x08;  // button 3, the back side button
  EXPECT_TRUE(run(frame({testing::scan(0x90004), key(BTN_SIDE, 1)})).empty());
  EXPECT_TRUE(run(frame({testing::scan(0x90004), key(BTN_SIDE, 0)})).empty());
  EXPECT_EQ(buttons.masks, (std::vector<uint8_t>{0x08, 0x00}));
  // Unassigned buttons go on, scan code and all.
  Events extra = frame({testing::scan(0x90005), key(BTN_EXTRA, 1)});
  EXPECT_EQ(run(extra), extra);
}

TEST_F(FrameFilterTest, NoButtonStaysDownOnTheCopy) {
  // Pressed while unassigned, released after it was assigned: the copy saw
  // the press, so it gets the release too.
  EXPECT_EQ(run(frame({key(BTN_MIDDLE, 1)})), frame({key(BTN_MIDDLE, 1)}));
  settings.interceptMask = 0x04;
  EXPECT_EQ(run(frame({key(BTN_MIDDLE, 0)})), frame({key(BTN_MIDDLE, 0)}));
  EXPECT_EQ(buttons.masks, (std::vector<uint8_t>{0x00}));

  // The other way round the copy never saw the press; no stray release.
  EXPECT_TRUE(run(frame({key(BTN_MIDDLE, 1)})).empty());
  settings.interceptMask = 0;
  EXPECT_TRUE(run(frame({key(BTN_MIDDLE, 0)})).empty());
}

TEST_F(FrameFilterTest, ALeavingMouseReleasesEverything) {
  settings.interceptMask = 0x04;
  run(frame({key(BTN_LEFT, 1), key(BTN_MIDDLE, 1)}));
  Events out;
  filter.releaseAll(out);
  EXPECT_EQ(out, frame({key(BTN_LEFT, 0)}));
  EXPECT_EQ(buttons.masks.back(), 0x00) << "the dispatcher hears the middle button go up";
  EXPECT_EQ(taps.otherButtonMask(), 0);

  out.clear();
  filter.releaseAll(out);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace velt
