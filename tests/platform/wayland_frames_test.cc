#include <gtest/gtest.h>

#include "overlay/overlay_controller.h"
#include "platform/wayland/frame_book.h"
#include "platform/wayland/wayland_output.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

const QRect kA(10, 10, 20, 20), kB(50, 50, 10, 10), kC(0, 0, 5, 5);

TEST(FrameBookTest, EachBufferRepaintsWhatChangedSinceItWasPainted) {
  FrameBook book;
  EXPECT_TRUE(book.resize({100, 100}));
  ASSERT_EQ(book.bufferToPaint(), 0);
  book.paint(0);
  // One picture a frame, into a buffer the compositor let go of.
  book.changed(QRegion(kA) + QRect(90, 90, 50, 50));
  EXPECT_EQ(book.bufferToPaint(), std::nullopt);
  ASSERT_TRUE(book.frameShown());
  ASSERT_EQ(book.bufferToPaint(), 1);
  EXPECT_EQ(book.paint(1).damage, QRegion(kA) + QRect(90, 90, 10, 10));  // clipped
  ASSERT_FALSE(book.frameShown());
  book.changed(kB);
  EXPECT_EQ(book.bufferToPaint(), std::nullopt);  // both with the compositor
  ASSERT_TRUE(book.released(0));
  ASSERT_EQ(book.bufferToPaint(), 0);
  const FrameBook::Painting painting = book.paint(0);
  // Buffer 0 missed the change that went into buffer 1.
  EXPECT_EQ(painting.repaint, QRegion(kA) + QRect(90, 90, 10, 10) + kB);
  EXPECT_EQ(painting.damage, QRegion(kB));
  book.frameShown();
  book.released(1);
  book.changed(kC);
  ASSERT_EQ(book.bufferToPaint(), 1);
  EXPECT_EQ(book.paint(1).repaint, QRegion(kB) + kC);
}

TEST(FrameBookTest, ResizeKeepsABufferTheCompositorHoldsUnlessTheSizeChanges) {
  FrameBook book;
  book.resize({100, 100});
  book.paint(0);
  book.frameShown();
  EXPECT_FALSE(book.resize({100, 100}));
  EXPECT_EQ(book.bufferToPaint(), 1);
  EXPECT_TRUE(book.resize({200, 100}));
  ASSERT_EQ(book.bufferToPaint(), 0);
  EXPECT_EQ(book.paint(0).repaint, QRegion(QRect(0, 0, 200, 100)));
}

TEST(FadeTest, RunsOnTheClockAndEndsAtItsTarget) {
  testing::FakeClock clock;
  Fade fade(clock);
  EXPECT_EQ(fade.opacity(), 1);
  fade.start(0, 1);
  EXPECT_EQ(fade.opacity(), 0);
  clock.advance(kFadeDuration / 2);
  EXPECT_DOUBLE_EQ(fade.opacity(), 0.5);
  EXPECT_TRUE(fade.running());
  clock.advance(kFadeDuration);
  EXPECT_EQ(fade.opacity(), 1);
  EXPECT_FALSE(fade.running());
  fade.start(1, 0);
  clock.advance(kFadeDuration / 4);
  EXPECT_DOUBLE_EQ(fade.opacity(), 0.75);
  fade.stop();
  clock.advance(1s);
  EXPECT_DOUBLE_EQ(fade.opacity(), 0.75);
}

TEST(InputRegionTest, LeavesThreePixelsAcrossThePointerOut) {
  const QRegion region = inputRegionAround({100, 100}, QPointF(10.7, 0.2));
  for (QPoint p : {QPoint(9, 0), QPoint(11, 1), QPoint(10, 0)}) EXPECT_FALSE(region.contains(p));
  for (QPoint p : {QPoint(8, 0), QPoint(12, 0), QPoint(10, 2)}) EXPECT_TRUE(region.contains(p));
  EXPECT_EQ(inputRegionAround({100, 100}, std::nullopt), QRegion(0, 0, 100, 100));
}

TEST(OutputGeometryTest, SizeAndPlaceInAnyOrder) {
  OutputGeometry output;
  output.modeSize = {2560, 1440};
  output.scale = 2;  // told after the mode
  EXPECT_EQ(output.logical(), QRect(0, 0, 1280, 720));
  output.position = {1280, 0};
  output.logicalSize = QSize(1707, 960);  // xdg-output's wins
  EXPECT_EQ(output.logical(), QRect(1280, 0, 1707, 960));
  EXPECT_TRUE(output.contains({1280, 0}));
  EXPECT_FALSE(output.contains({1279.5, 10}));
  EXPECT_FALSE(output.contains({2987, 10}));  // the next output's
}

}  // namespace
}  // namespace velt
