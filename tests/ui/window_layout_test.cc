#include "ui/window_layout.h"

#include <gtest/gtest.h>

#include "tests/support/window_geometry.h"

namespace velt {
namespace {

using testing::exampleGeometry;

DeviceRecord mouse(int32_t buttonMask) {
  DeviceRecord r;
  r.type = 1;
  r.name = "QR-350";
  r.buttonMask = buttonMask;
  for (int i = 0; i < 5; ++i) r.buttonPos[i] = {100.0 * i, 50.0 * i};
  return r;
}

void addExtra(DeviceRecord& r, int32_t down, int32_t up, PointF pos) {
  r.extraDown[r.extraCount] = down;
  r.extraUp[r.extraCount] = up;
  r.extraPos[r.extraCount] = pos;
  ++r.extraCount;
}

// Badge positions go through single-precision arithmetic.
void expectNear(const RectF& actual, const RectF& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-3);
  EXPECT_NEAR(actual.y, expected.y, 1e-3);
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
}

int visibleSlots(const WindowPlan& plan) {
  int n = 0;
  for (const auto& s : plan.slotPlan) n += s.visible;
  return n;
}

// What shows for no device, one and two is tested on the window itself.

TEST(WindowLayout, ColumnAndBadgesForButtonsTwoAndFour) {
  WindowPlan plan = planWindow(mouse(4 | 16), 1, exampleGeometry());
  ASSERT_EQ(visibleSlots(plan), 2);
  const auto& first = plan.slotPlan[0];
  const auto& third = plan.slotPlan[2];
  EXPECT_TRUE(first.visible && first.enabled);
  EXPECT_FALSE(plan.slotPlan[1].visible || plan.slotPlan[1].enabled);
  EXPECT_TRUE(third.visible && third.enabled);
  EXPECT_EQ(first.captionNumber, 1);
  EXPECT_EQ(third.captionNumber, 2);

  // avail = 450, step = 225; the first caption ends 30 below the top, its
  // pop-up starts 2 below that and the shortcut label 2 below the pop-up.
  EXPECT_EQ(first.caption, (RectF{16, 12, 200, 18}));
  EXPECT_EQ(first.popUp, (RectF{16, 32, 260, 26}));
  EXPECT_EQ(first.shortcutLabel, (RectF{16, 60, 250, 26}));
  EXPECT_EQ(third.caption, (RectF{16, 237, 200, 18}));
  EXPECT_EQ(third.popUp, (RectF{16, 257, 260, 26}));

  // Badges 1 and 2 centred on buttonPos entries 2 and 4; scale 0.4.
  EXPECT_TRUE(plan.badges[0].visible && plan.badges[1].visible);
  EXPECT_FALSE(plan.badges[2].visible);
  expectNear(plan.badges[0].frame, RectF{20 + 80 - 12, 40 + 40 - 12, 24, 24});
  expectNear(plan.badges[1].frame, RectF{20 + 160 - 12, 40 + 80 - 12, 24, 24});
}

TEST(WindowLayout, StepIsWholeNumberDivision) {
  DeviceRecord all = mouse(4 | 8 | 16);
  addExtra(all, 0xFE, 0xFD, {1, 1});
  WindowPlan plan = planWindow(all, 1, exampleGeometry());
  // avail 450 / 4 = 112.
  EXPECT_EQ(plan.slotPlan[3].caption.y - plan.slotPlan[2].caption.y, 112);
  addExtra(all, 0xFA, 0xFA, {2, 2});
  addExtra(all, 0xFC, 0xFC, {3, 3});
  plan = planWindow(all, 1, exampleGeometry());
  EXPECT_EQ(visibleSlots(plan), 6);
  EXPECT_EQ(plan.slotPlan[5].caption.y - plan.slotPlan[4].caption.y, 75);
  EXPECT_EQ(plan.slotPlan[5].captionNumber, 6);
}

TEST(WindowLayout, ExtraButtonsMatchByBothCodes) {
  DeviceRecord r = mouse(0);
  addExtra(r, 0xFA, 0xFA, {500, 250});
  WindowPlan plan = planWindow(r, 1, exampleGeometry());
  ASSERT_EQ(visibleSlots(plan), 1);
  EXPECT_TRUE(plan.slotPlan[4].visible && plan.slotPlan[4].enabled);
  EXPECT_EQ(plan.slotPlan[4].captionNumber, 1);
  EXPECT_EQ(plan.slotPlan[4].caption.y, 12);  // the first row
  expectNear(plan.badges[0].frame, RectF{20 + 200 - 12, 40 + 100 - 12, 24, 24});

  // A press code of one button with the release code of another matches no
  // slot; nor do entries past extraCount.
  DeviceRecord odd = mouse(0);
  addExtra(odd, 0xFE, 0xFA, {1, 1});
  odd.extraDown[1] = odd.extraUp[1] = 0xFC;
  EXPECT_EQ(visibleSlots(planWindow(odd, 1, exampleGeometry())), 0);

  // The model lists an unmatched entry first: slot 5's badge still goes to
  // the position of the entry that matched it.
  DeviceRecord later = mouse(4);
  addExtra(later, 0xFE, 0xFA, {0, 0});
  addExtra(later, 0xFA, 0xFA, {250, 500});
  plan = planWindow(later, 1, exampleGeometry());
  EXPECT_TRUE(plan.slotPlan[4].visible);
  expectNear(plan.badges[1].frame, RectF{20 + 100 - 12, 40 + 200 - 12, 24, 24});
}

}  // namespace
}  // namespace velt
