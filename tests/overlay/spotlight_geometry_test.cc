#include "overlay/spotlight_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace velt {
namespace {

constexpr SizeF kScreen{1920, 1080};

TEST(SpotlightGeometryTest, HoleIsCentredWithCornersOfAThird) {
  RoundedRect even = spotlightHole({800, 500}, 310);
  EXPECT_EQ(even.rect, (RectF{645, 345, 310, 310}));
  EXPECT_DOUBLE_EQ(even.radius, 102.3);

  // Odd sizes keep the integer half below and to the left of the pointer.
  RoundedRect odd = spotlightHole({800, 500}, 311);
  EXPECT_EQ(odd.rect, (RectF{645, 345, 311, 311}));
}

TEST(SpotlightGeometryTest, PointerDotAndRepaintedArea) {
  PointerDot dot = pointerDot({100, 50});
  EXPECT_EQ(dot.rim.rect, (RectF{78, 28, 44, 44}));
  EXPECT_EQ(dot.rim.radius, 22);
  EXPECT_EQ(dot.fill.rect, (RectF{80, 30, 40, 40}));
  EXPECT_EQ(dot.fill.radius, 20);

  EXPECT_EQ(pointerArea({800, 500}, 310), (RectF{640, 340, 320, 320}));
  EXPECT_EQ(pointerArea({800, 500}, 311), (RectF{640, 340, 321, 321}));
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

TEST(SpotlightGeometryTest, LensAtTheLeftAndRightEdges) {
  MagnifierLayout left = magnifierLayout({0, 500}, 310, kScreen, 1920, 1080);
  EXPECT_EQ(left.lens.rect.x, -152);
  EXPECT_EQ(left.destination.x, 0);
  EXPECT_EQ(left.source.x, 0);

  MagnifierLayout right = magnifierLayout({1920, 500}, 310, kScreen, 1920, 1080);
  EXPECT_EQ(right.destination.x, 1920 - 304);
  EXPECT_EQ(right.source.x, 1920 - 152);
}

// Wherever the pointer is, each visible point q of the lens shows what lies
// at (q + pointer) / 2: the enlargement is about the pointer, also where an
// edge cuts the lens.
TEST(SpotlightGeometryTest, LensEnlargesAboutThePointerEverywhere) {
  for (double scale : {1.0, 2.0}) {
    int width = static_cast<int>(kScreen.width * scale);
    int height = static_cast<int>(kScreen.height * scale);
    for (PointF p : {PointF{0, 0}, PointF{1920, 1080}, PointF{0, 1080}, PointF{1920, 0},
                     PointF{37, 540}, PointF{960, 3}, PointF{1900, 1070}, PointF{960, 540}}) {
      MagnifierLayout m = magnifierLayout(p, 310, kScreen, width, height);
      ASSERT_TRUE(m.hasSource);
      RectF lens = flipped(m.lens.rect, kScreen.height);
      RectF dest = flipped(m.destination, kScreen.height);
      double pointerTop = kScreen.height - p.y;
      double toSource = m.source.width / dest.width;
      for (double fx : {0.1, 0.5, 0.9}) {
        for (double fy : {0.1, 0.5, 0.9}) {
          double qx = lens.x + fx * lens.width;
          double qy = lens.y + fy * lens.height;
          if (qx < 0 || qy < 0 || qx >= kScreen.width || qy >= kScreen.height) continue;
          double sx = m.source.x + (qx - dest.x) * toSource;
          double sy = m.source.y + (qy - dest.y) * toSource;
          EXPECT_NEAR(sx, (qx + p.x) / 2 * scale, 1.0 * scale)
              << "pointer " << p.x << "," << p.y << " q " << qx << "," << qy;
          EXPECT_NEAR(sy, (qy + pointerTop) / 2 * scale, 1.0 * scale)
              << "pointer " << p.x << "," << p.y << " q " << qx << "," << qy;
        }
      }
    }
  }
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
