#include "overlay/spotlight_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velt {
namespace {

constexpr SizeF kScreen{1920, 1080};

TEST(SpotlightGeometryTest, CornerRadii) {
  PointerDot dot = pointerDot({100, 50});
  EXPECT_EQ(dot.rim.rect, (RectF{78, 28, 44, 44}));
  EXPECT_EQ(dot.rim.radius, 22);
  EXPECT_EQ(dot.fill.rect, (RectF{80, 30, 40, 40}));
  EXPECT_EQ(dot.fill.radius, 20);

  EXPECT_DOUBLE_EQ(spotlightHole({800, 500}, 310).radius, 102.3);
}

TEST(SpotlightGeometryTest, LensIsRoundedDownToAMultipleOfEight) {
  EXPECT_EQ(lensSide(310), 304);
  EXPECT_EQ(lensSide(207), 200);
  EXPECT_EQ(lensSide(200), 200);
  EXPECT_EQ(lensSide(500), 496);

  MagnifierLayout m = magnifierLayout({800, 500}, 310, kScreen, 1920, 1080);
  EXPECT_EQ(m.lens.rect, (RectF{648, 348, 304, 304}));
  EXPECT_DOUBLE_EQ(m.lens.radius, 100.32);
  EXPECT_EQ(m.destination, m.lens.rect);
  // 152 points around the pointer, the source's y measured from the top.
  EXPECT_EQ(m.source, (RectF{724, 504, 152, 152}));
  EXPECT_TRUE(m.hasSource);
}

TEST(SpotlightGeometryTest, NoPictureWithoutASnapshotOrAScreen) {
  EXPECT_FALSE(magnifierLayout({10, 10}, 310, kScreen, 0, 0).hasSource);
  EXPECT_FALSE(magnifierLayout({10, 10}, 310, {0, 0}, 1920, 1080).hasSource);
  MagnifierLayout m = magnifierLayout({10, 10}, 310, {0, 0}, 0, 0);
  EXPECT_EQ(m.lens.rect.width, 304) << "the rim is still drawn";
}

TEST(SpotlightGeometryTest, HugeStoredSizesStayFinite) {
  MagnifierLayout m = magnifierLayout({10, 10}, 2147483647, kScreen, 1920, 1080);
  EXPECT_TRUE(std::isfinite(m.destination.x));
  RectF area = pointerArea({10, 10}, 2147483647);
  EXPECT_GT(area.width, 2147483647.0);
}

}  // namespace
}  // namespace velt
