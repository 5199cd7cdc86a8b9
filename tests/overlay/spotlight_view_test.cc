#include "overlay/spotlight_view.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>

// The rig's pictures of real desktops (tests/desktop) check the spotlight,
// the pointer dot and the lens as a person sees them, with and without a
// compositor; these check what their tolerance lets pass: exact edges, odd
// sides, a HiDPI snapshot, what is repainted.

namespace velt {
namespace {

constexpr QSize kScreen{640, 480};

// A picture of the screen in which every pixel says where it is.
QImage coordinatePicture(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4) | (y >> 8)));
    }
  }
  return image;
}

QPoint whereFrom(QRgb pixel) {
  return {qRed(pixel) | ((qBlue(pixel) >> 4) << 8), qGreen(pixel) | ((qBlue(pixel) & 15) << 8)};
}

// Records what redrawScreen asks to repaint.
class WatchedView : public SpotlightView {
 public:
  using SpotlightView::SpotlightView;
  std::vector<QRect> dirty;
  int allDirty = 0;

 protected:
  void markDirty(const QRect& area) override { dirty.push_back(area); }
  void markAllDirty() override { ++allDirty; }
};

class SpotlightViewTest : public ::testing::Test {
 protected:
  Settings settings;
  WatchedView view{settings};
  QPoint pointer{320, 240};

  void SetUp() override {
    view.resize(kScreen + QSize(1, 1));
    view.setScreenSize(kScreen);
    view.setPointerSource([this] { return pointer; });
  }

  QImage render(int32_t mode, QPoint at) {
    pointer = at;
    view.setMode(mode);
    view.redrawScreen();
    view.redrawScreen();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
  }
};

TEST_F(SpotlightViewTest, SpotlightDimsAllButTheHole) {
  for (int size : {310, 311, 207}) {
    settings.spotlightSize = size;
    QImage image = render(0, {320, 240});
    int half = size / 2;
    EXPECT_EQ(qAlpha(image.pixel(320, 240)), 0) << size;
    QColor dimmed = image.pixelColor(5, 5);
    EXPECT_EQ(dimmed.alpha(), 204) << size;
    EXPECT_EQ(dimmed.rgb() & 0xFFFFFF, 0u);

    // Left and right edges: half a side to the left, the rest to the right.
    EXPECT_EQ(qAlpha(image.pixel(320 - half, 240)), 0) << size;
    EXPECT_EQ(qAlpha(image.pixel(320 - half - 1, 240)), 204) << size;
    EXPECT_EQ(qAlpha(image.pixel(320 - half + size - 1, 240)), 0) << size;
    EXPECT_EQ(qAlpha(image.pixel(320 - half + size, 240)), 204) << size;
    // Top and bottom: an odd side has its extra row above the pointer.
    EXPECT_EQ(qAlpha(image.pixel(320, 240 - (size - half))), 0) << size;
    EXPECT_EQ(qAlpha(image.pixel(320, 240 - (size - half) - 1)), 204) << size;
    EXPECT_EQ(qAlpha(image.pixel(320, 240 + half - 1)), 0) << size;
    EXPECT_EQ(qAlpha(image.pixel(320, 240 + half)), 204) << size;
    // The corners are rounded: a third of the side.
    EXPECT_EQ(qAlpha(image.pixel(320 - half + 2, 240 + half - 3)), 204) << size;
    // Nothing past the screen: the view is a point larger each way.
    EXPECT_EQ(qAlpha(image.pixel(kScreen.width(), 10)), 0);
    EXPECT_EQ(qAlpha(image.pixel(10, kScreen.height())), 0);
  }
}

// Every point q of the lens, away from its rim, shows the picture at
// (q + pointer) / 2, wherever the pointer is, also at the screen's edges.
void expectEnlargedAboutThePointer(const QImage& image, QPoint pointer, int lens, double scale) {
  int inner = lens / 2 - 8;
  int checked = 0;
  for (int d = -inner; d <= inner; d += 7) {
    for (QPoint q : {pointer + QPoint(d, 0), pointer + QPoint(0, d)}) {
      if (!QRect(QPoint(0, 0), kScreen).contains(q)) continue;
      QPoint shown = whereFrom(image.pixel(q));
      QPointF expected = QPointF(q + pointer) / 2 * scale;
      ASSERT_LE(std::abs(shown.x() - expected.x()), scale) << "q " << q.x() << "," << q.y();
      ASSERT_LE(std::abs(shown.y() - expected.y()), scale) << "q " << q.x() << "," << q.y();
      ++checked;
    }
  }
  EXPECT_GT(checked, 20);
}

TEST_F(SpotlightViewTest, LensEnlargesTwiceAboutThePointerUpToEachEdge) {
  for (double scale : {1.0, 2.0}) {
    view.saveScreen(coordinatePicture(kScreen * scale));
    for (int size : {310, 207}) {
      settings.spotlightSize = size;
      int lens = lensSide(size);
      for (QPoint at : {QPoint(320, 240), QPoint(0, 240), QPoint(639, 240), QPoint(320, 0),
                        QPoint(320, 479), QPoint(0, 0), QPoint(639, 479), QPoint(50, 460)}) {
        SCOPED_TRACE(::testing::Message()
                     << "size " << size << " scale " << scale << " at " << at.x() << "," << at.y());
        expectEnlargedAboutThePointer(render(2, at), at, lens, scale);
      }
    }
  }
}

TEST_F(SpotlightViewTest, LensHasATwoToneRimAndNothingAround) {
  view.saveScreen(QImage());
  QImage image = render(2, {320, 240});
  // 304 wide: the edge is 152 to the left; the dark band is 5 wide, the
  // light one the 3 outermost points of it.
  QColor outermost = image.pixelColor(320 - 152, 240);
  QColor darkOnly = image.pixelColor(320 - 152 + 4, 240);
  EXPECT_GT(outermost.red(), darkOnly.red());
  EXPECT_GT(darkOnly.alpha(), 0);
  EXPECT_EQ(qAlpha(image.pixel(320, 240)), 0) << "no picture: the lens is empty";
  EXPECT_EQ(qAlpha(image.pixel(320 - 160, 240)), 0);
}

TEST_F(SpotlightViewTest, RedrawRepaintsTheOldAndNewPointerAreasOnly) {
  view.redrawScreen();
  EXPECT_EQ(view.allDirty, 1);
  EXPECT_TRUE(view.dirty.empty());

  pointer = {400, 300};
  view.redrawScreen();
  EXPECT_EQ(view.allDirty, 1);
  ASSERT_EQ(view.dirty.size(), 2u);
  EXPECT_EQ(view.dirty[0], QRect(320 - 160, 240 - 160, 320, 320));
  EXPECT_EQ(view.dirty[1], QRect(400 - 160, 300 - 160, 320, 320));

  // Near an edge only the part on the view is repainted.
  view.dirty.clear();
  pointer = {0, 0};
  view.redrawScreen();
  EXPECT_EQ(view.dirty[1], QRect(0, 0, 160, 160));
}

// Frames at full opacity are copied from pictures kept between frames;
// fades and scaled painters fill the shapes. Both show the same, with and
// without a backdrop, on a dirty region of two pieces; off whole pixels the
// pictures go to the nearest one.
TEST(PaintSpotlight, PicturesKeptBetweenFramesPaintWhatTheShapesDo) {
  const QImage picture = coordinatePicture(kScreen);
  const QRegion dirty = QRegion(0, 0, 640, 300) + QRegion(100, 300, 540, 180);
  SpotlightSprites sprites;
  auto paint = [&](SpotlightScene scene, PointF pointer, SpotlightSprites* with) {
    QImage image(kScreen, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::green);
    QPainter painter(&image);
    scene.pointer = pointer;
    scene.sprites = with;
    paintSpotlight(painter, dirty, scene);
    return image;
  };
  const std::pair<PointF, PointF> places[] = {
      {{320, 240}, {320, 240}}, {{600, 10}, {600, 10}}, {{20.25, 470.75}, {20, 471}}};
  for (int32_t mode : {0, 1, 2}) {
    for (bool backdrop : {false, true}) {
      for (const auto& [at, whole] : places) {
        const SpotlightScene scene{mode, {}, 207, kScreen, picture, backdrop ? picture : QImage()};
        const QImage shapes = paint(scene, mode == 2 ? at : whole, nullptr);
        const QImage kept = paint(scene, at, &sprites);
        int worst = 0;
        for (int y = 0; y < kScreen.height(); ++y) {
          for (int x = 0; x < kScreen.width(); ++x) {
            for (int shift : {0, 8, 16, 24}) {
              worst = std::max(worst, std::abs(int((shapes.pixel(x, y) >> shift) & 0xFF) -
                                               int((kept.pixel(x, y) >> shift) & 0xFF)));
            }
          }
        }
        EXPECT_LE(worst, 3) << "mode " << mode << " backdrop " << backdrop << " at " << at.x << ","
                            << at.y;
      }
    }
  }
}

}  // namespace
}  // namespace velt
