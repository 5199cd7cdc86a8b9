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

}  // namespace
}  // namespace velt
