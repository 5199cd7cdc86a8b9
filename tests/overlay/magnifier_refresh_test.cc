#include "overlay/magnifier_refresh.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::ManualMainThread;

constexpr RectF kOutput{0, 0, 1920, 1080};

class MagnifierRefreshTest : public ::testing::Test {
 protected:
  ManualMainThread main;
  FakeClock clock;
  std::vector<RectF> asked;
  MagnifierRefresh refresh{main, clock, [this](RectF area) { asked.push_back(area); }};

  void wait(Clock::Duration d) {
    for (; d > Clock::Duration::zero(); d -= 10ms) {
      clock.advance(10ms);
      main.runPending();
    }
  }
  // After a picture, the next comes once the pointer has been still 0.5 s.
  void nextAfterThePause() {
    const size_t before = asked.size();
    refresh.captured();
    wait(490ms);
    EXPECT_EQ(asked.size(), before);
    wait(10ms);
    EXPECT_EQ(asked.size(), before + 1);
  }
};

TEST_F(MagnifierRefreshTest, StillPointerIsPicturedEveryHalfSecondUntilTheLensGoes) {
  refresh.start({500, 400}, kOutput, 200);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], (RectF{450, 350, 100, 100}));
  wait(2s);
  EXPECT_EQ(asked.size(), 1u) << "no second picture while the first is awaited";

  nextAfterThePause();
  nextAfterThePause();

  refresh.stop();
  refresh.captured();
  refresh.pointerMoved({600, 400}, kOutput);
  wait(2s);
  EXPECT_EQ(asked.size(), 3u);
}

TEST_F(MagnifierRefreshTest, MovesWhileAPictureIsAwaitedAskForOneMore) {
  refresh.start({500, 400}, kOutput, 200);
  for (double x = 501; x <= 510; ++x) refresh.pointerMoved({x, 400}, kOutput);
  ASSERT_EQ(asked.size(), 1u);
  refresh.captured();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].x, 460) << "where the pointer went last";
  refresh.captured();
  EXPECT_EQ(asked.size(), 2u);

  // A move between pictures asks at once, and the pause before it counts
  // for nothing.
  wait(300ms);
  refresh.pointerMoved({700, 400}, kOutput);
  ASSERT_EQ(asked.size(), 3u);
  nextAfterThePause();

  // A wheel step resizes the square.
  refresh.captured();
  refresh.sizeChanged(400);
  ASSERT_EQ(asked.size(), 5u);
  EXPECT_EQ(asked[4].width, 200);
}

TEST_F(MagnifierRefreshTest, SquareStaysOnItsOutput) {
  const RectF second{1920, 0, 1280, 720};
  for (PointF p : {PointF{1921, 1}, PointF{3199, 719}, PointF{2500, 0}}) {
    const RectF s = magnifierSourceSquare(p, 200, second);
    EXPECT_EQ(s.width, 100);
    EXPECT_EQ(s.height, 100);
    EXPECT_GE(s.x, second.x);
    EXPECT_GE(s.y, second.y);
    EXPECT_LE(s.x + s.width, second.x + second.width);
    EXPECT_LE(s.y + s.height, second.y + second.height);
  }
}

}  // namespace
}  // namespace velt
