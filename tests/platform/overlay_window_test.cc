#include "platform/x11/overlay_window.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>

#include "tests/support/test_support.h"

namespace velt {
namespace {

// Two screens side by side: 1920x1080 on the left, 1280x1024 on the right.
[[maybe_unused]] const bool twoScreens = [] {
  auto config = std::filesystem::temp_directory_path() /
                ("velt-overlay-screens-" + std::to_string(getpid()) + ".json");
  testing::writeFile(config, R"({"screens": [
    {"name": "left", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "dpr": 1},
    {"name": "right", "x": 1920, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "dpr": 1}
  ]})");
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + config.c_str());
  return true;
}();

class OverlayWindowTest : public ::testing::Test {
 protected:
  Settings settings;
  bool compositing = true;
  int grabs = 0;
  OverlayWindow window{settings, [this] { return compositing; }};

  void SetUp() override {
    window.setScreenGrabber([this](QScreen* screen) {
      ++grabs;
      QImage picture(screen->size(), QImage::Format_RGB32);
      picture.fill(Qt::gray);
      return picture;
    });
  }

  QPropertyAnimation* fade() { return window.findChild<QPropertyAnimation*>(); }
};

TEST_F(OverlayWindowTest, CoversTheScreenUnderThePointerAndFades) {
  ASSERT_EQ(QGuiApplication::screens().size(), 2);
  EXPECT_FALSE(window.isVisible()) << "starts hidden";
  QCursor::setPos(2500, 600);
  window.fadeIn();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.geometry(), QRect(1920, 0, 1281, 1025));
  EXPECT_EQ(window.view().geometry(), QRect(0, 0, 1281, 1025));
  ASSERT_NE(fade(), nullptr);
  EXPECT_EQ(fade()->duration(), 200);
  EXPECT_EQ(fade()->startValue().toDouble(), 0.0);
  EXPECT_EQ(fade()->endValue().toDouble(), 1.0);

  window.fadeOut();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(fade()->startValue().toDouble(), 1.0);
  EXPECT_EQ(fade()->endValue().toDouble(), 0.0);
  window.hideWindow();
  EXPECT_FALSE(window.isVisible());

  QCursor::setPos(100, 100);
  window.fadeIn();
  EXPECT_EQ(window.geometry(), QRect(0, 0, 1921, 1081));
}

TEST_F(OverlayWindowTest, WithoutCompositingPaintsOverAPictureOfTheScreen) {
  QCursor::setPos(100, 100);
  window.fadeIn();
  EXPECT_FALSE(window.view().hasBackdrop());
  EXPECT_EQ(grabs, 0);
  window.hideWindow();

  compositing = false;
  window.fadeIn();
  EXPECT_TRUE(window.view().hasBackdrop());
  window.hideWindow();
  EXPECT_FALSE(window.view().hasBackdrop());

  // The magnifier's picture, taken just before, serves as the backdrop too.
  grabs = 0;
  window.saveScreen();
  window.fadeIn();
  EXPECT_EQ(grabs, 1);
  EXPECT_TRUE(window.view().hasBackdrop());
}

TEST_F(OverlayWindowTest, AFailedScreenPictureIsReportedOnce) {
  testing::CaptureLog log;
  window.setScreenGrabber([](QScreen*) { return QImage(); });
  window.saveScreen();
  window.saveScreen();
  EXPECT_EQ(log.count("cannot take a picture of screen"), 1u);
}

// Reads the screen beneath as all blue, and records what it was asked.
struct FakeBeneath : ScreenBeneath {
  bool& kept;
  std::vector<QRect>& asked;
  FakeBeneath(bool& k, std::vector<QRect>& a) : kept(k), asked(a) {}
  void keep(bool on) override { kept = on; }
  QImage picture(const QRect& area, uint32_t) override {
    asked.push_back(area);
    QImage picture(area.size(), QImage::Format_RGB32);
    picture.fill(Qt::blue);
    return picture;
  }
};

TEST_F(OverlayWindowTest, TheLiveLensReadsItsSquareBeneathWhileItShows) {
  testing::FakeClock clock;
  testing::ManualMainThread main;
  bool kept = false;
  std::vector<QRect> asked;
  window.setScreenBeneath(std::make_unique<FakeBeneath>(kept, asked), main, clock);
  QCursor::setPos(2500, 600);
  window.saveScreen();
  EXPECT_TRUE(kept) << "kept from before the overlay shows";
  window.setMode(kDrawMagnifier);
  window.fadeIn();
  // Half the lens's side (304) about the pointer, on the right-hand screen.
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], QRect(2500 - 76, 600 - 76, 152, 152));
  QCursor::setPos(2510, 600);
  window.redrawScreen();
  ASSERT_EQ(asked.size(), 2u);
  clock.advance(kMagnifierStillRefresh);
  main.runPending();
  EXPECT_EQ(asked.size(), 3u) << "again while the pointer stands still";
  // The picture lands in the lens's snapshot at its place on that screen.
  const QImage shown = window.view().grab().toImage();
  EXPECT_EQ(shown.pixelColor(590, 600), QColor(Qt::blue));
  window.hideWindow();
  EXPECT_FALSE(kept);
  clock.advance(kMagnifierStillRefresh);
  main.runPending();
  EXPECT_EQ(asked.size(), 3u);
}

TEST(LayersBeneath, WindowsBelowTheOverlayFromTheTopmostCoveringOne) {
  const QRect area(100, 100, 50, 50);
  auto w = [](uint32_t id, QRect frame, bool opaque = true) {
    return StackedWindow{id, frame, true, true, opaque};
  };
  std::vector<StackedWindow> stack = {
      w(1, {0, 0, 800, 110}),                    // covered by 3
      w(2, {120, 120, 10, 10}),                  // on 1, under 3
      w(3, {90, 90, 100, 100}),                  // covers area whole
      w(4, {140, 0, 100, 120}, false),           // see-through: the rest shows
      {5, {0, 0, 800, 600}, false, true, true},  // unmapped
      {6, {0, 0, 800, 600}, true, false, true},  // input only
      w(7, {0, 0, 10, 10}),                      // elsewhere
      w(99, {0, 0, 800, 600}),                   // the overlay
      w(8, {0, 0, 800, 600}),                    // above the overlay
  };
  BeneathLayers layers = layersBeneath(stack, 99, area);
  EXPECT_FALSE(layers.background);
  ASSERT_EQ(layers.windows.size(), 2u);
  EXPECT_EQ(layers.windows[0], std::make_pair(size_t{2}, area));
  EXPECT_EQ(layers.windows[1], std::make_pair(size_t{3}, QRect(140, 100, 10, 20)));

  // Nothing covers the area whole: the background and all from the bottom.
  stack.erase(stack.begin() + 2);
  layers = layersBeneath(stack, 99, area);
  EXPECT_TRUE(layers.background);
  ASSERT_EQ(layers.windows.size(), 3u);
  EXPECT_EQ(layers.windows[0].first, 0u);
  EXPECT_EQ(layers.windows[1].second, QRect(120, 120, 10, 10));
  // Without the overlay listed, the windows above it count too.
  EXPECT_EQ(layersBeneath(stack, 42, area).windows.back().first, stack.size() - 1);
}

}  // namespace
}  // namespace velt
