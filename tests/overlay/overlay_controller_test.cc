#include "overlay/overlay_controller.h"

#include <gtest/gtest.h>

#include "tests/overlay/overlay_fakes.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::FakeButtonMaskSink;
using testing::FakeClock;
using testing::FakeOverlayWindow;
using testing::FakePointerOutput;
using testing::ManualMainThread;

class OverlayControllerTest : public ::testing::Test {
 protected:
  Settings settings;
  int saves = 0;
  ManualMainThread main;
  FakeClock delayed;
  OverlayController overlay{settings, [this] { ++saves; }, main, delayed};
  FakeOverlayWindow window;
  PointerModeState modes;
  FakeButtonMaskSink buttons;
  FakePointerOutput output;
  PointerTaps taps{modes, settings, &buttons, output, overlay, delayed};

  void SetUp() override { overlay.attach(&window, &taps); }

  // Lets time pass, running the main thread as it goes.
  void wait(Clock::Duration d) {
    main.runPending();
    for (auto step = 1ms; d > Clock::Duration::zero(); d -= step) {
      delayed.advance(std::min<Clock::Duration>(step, d));
      main.runPending();
    }
  }

  // The Spotlight and Magnifier buttons, as the dispatcher drives them.
  void spotlightDown() {
    main.post([this] { overlay.spotlightPressed(); });
  }
  void spotlightUp() {
    if (overlay.spotlightHeld()) {
      main.post([this] { overlay.setOverlayShown(false, kDrawPointerDot); });
    } else {
      overlay.toggleOverlay(kDrawSpotlight);
    }
  }
  // A press and release well within the hold time, and what follows at once.
  void shortPress() {
    spotlightDown();
    wait(100ms);
    spotlightUp();
    wait(1ms);
  }
  void magnifierDown() { overlay.toggleOverlay(kDrawMagnifier); }
  // The spotlight up, with the window's calls so far forgotten.
  void spotlightShown() {
    overlay.toggleOverlay(kDrawSpotlight);
    wait(1ms);
    window.calls.clear();
  }
};

TEST_F(OverlayControllerTest, ShortPressTogglesTheSpotlight) {
  shortPress();
  EXPECT_TRUE(overlay.overlayVisible());
  EXPECT_EQ(overlay.overlayDrawMode(), kDrawSpotlight);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"mode 0", "fadeIn", "redraw"}));
  EXPECT_FALSE(overlay.spotlightHeld());

  // The hold check of that press finds the spotlight up and does nothing.
  wait(500ms);
  EXPECT_EQ(window.count("fadeIn"), 1u);

  shortPress();
  EXPECT_EQ(window.calls.back(), "fadeOut");
  EXPECT_TRUE(overlay.overlayVisible()) << "fading out still counts as visible";
  wait(199ms);
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_EQ(window.calls.back(), "hide");
}

TEST_F(OverlayControllerTest, HoldingShowsTheDotUntilRelease) {
  spotlightDown();
  wait(399ms);
  EXPECT_FALSE(overlay.overlayVisible());
  wait(1ms);
  EXPECT_TRUE(overlay.overlayVisible());
  EXPECT_EQ(overlay.overlayDrawMode(), kDrawPointerDot);
  EXPECT_TRUE(overlay.spotlightHeld());

  wait(2s);
  spotlightUp();
  wait(200ms);
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_EQ(window.count("fadeOut"), 1u);
  EXPECT_EQ(window.calls.back(), "hide");
  EXPECT_TRUE(overlay.spotlightHeld()) << "cleared only by the next press";

  // Which clears it: a short press shows the spotlight again.
  shortPress();
  EXPECT_TRUE(overlay.overlayVisible());
  EXPECT_EQ(overlay.overlayDrawMode(), kDrawSpotlight);
}

TEST_F(OverlayControllerTest, QuickDoubleClickLeavesNoDotBehind) {
  spotlightDown();
  wait(40ms);
  spotlightUp();
  wait(40ms);
  spotlightDown();
  wait(40ms);
  spotlightUp();
  wait(1s);
  // Shown by the first click, hidden by the second, and the first press's
  // hold check (due while the button is up) shows nothing.
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_EQ(window.count("fadeIn"), 1u);
  EXPECT_FALSE(overlay.spotlightHeld());
}

TEST_F(OverlayControllerTest, TheMagnifierComingAndGoingDuringAHoldStillGivesTheDot) {
  // The magnifier's fade-out over before the hold time, or still running.
  for (auto offAt : {100ms, 300ms}) {
    spotlightDown();
    wait(50ms);
    magnifierDown();
    wait(offAt - 50ms);
    magnifierDown();
    wait(400ms - offAt);
    EXPECT_EQ(overlay.overlayDrawMode(), kDrawPointerDot) << offAt.count();
    EXPECT_TRUE(overlay.spotlightHeld());
    spotlightUp();
    wait(1s);
    EXPECT_FALSE(overlay.overlayVisible()) << offAt.count();
  }
}

TEST_F(OverlayControllerTest, MagnifierTogglesWithAFreshSnapshot) {
  magnifierDown();
  wait(1ms);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"saveScreen", "mode 2", "fadeIn", "redraw"}));
  EXPECT_FALSE(overlay.magnifierIdle());

  magnifierDown();
  wait(200ms);
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_TRUE(overlay.magnifierIdle());

  // A Magnifier press over the spotlight hides it; no switch to the lens.
  spotlightShown();
  magnifierDown();
  wait(200ms);
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_EQ(window.count("saveScreen") + window.count("mode 2"), 0u);
}

TEST_F(OverlayControllerTest, LosingTheLastMouseHidesTheOverlay) {
  main.post([this] { overlay.hideOverlayIfVisible(); });
  overlay.requestOverlayRedraw(0);
  wait(300ms);
  EXPECT_TRUE(window.calls.empty()) << "hidden: nothing to hide or redraw";

  magnifierDown();
  wait(1ms);
  main.post([this] { overlay.hideOverlayIfVisible(); });
  wait(200ms);
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_TRUE(overlay.magnifierIdle());

  // The mouse goes just after a short press: the press's hold check, still
  // to come, shows no dot.
  shortPress();
  main.post([this] { overlay.hideOverlayIfVisible(); });
  wait(1s);
  EXPECT_FALSE(overlay.overlayVisible());
}

TEST_F(OverlayControllerTest, ToggleDuringTheFadeOutFadesAgainFromOpaque) {
  overlay.toggleOverlay(kDrawSpotlight);
  wait(1ms);
  overlay.toggleOverlay(kDrawSpotlight);
  wait(100ms);
  overlay.toggleOverlay(kDrawSpotlight);
  wait(110ms);
  EXPECT_EQ(window.count("fadeOut"), 2u);
  EXPECT_TRUE(overlay.overlayVisible()) << "the second fade runs its full 0.2 s";
  wait(100ms);
  EXPECT_FALSE(overlay.overlayVisible());
  EXPECT_EQ(window.count("hide"), 1u);

  // Shown again right away: no leftover fade-out end takes it down.
  overlay.toggleOverlay(kDrawSpotlight);
  wait(1s);
  EXPECT_TRUE(overlay.overlayVisible());
  EXPECT_EQ(window.count("hide"), 1u);
}

TEST_F(OverlayControllerTest, TapsFollowTheOverlay) {
  overlay.toggleOverlay(kDrawSpotlight);
  wait(9ms);
  EXPECT_FALSE(taps.motionTapEnabled());
  wait(1ms);
  EXPECT_TRUE(taps.motionTapEnabled());
  wait(189ms);
  EXPECT_FALSE(taps.wheelTapEnabled());
  wait(2ms);
  EXPECT_TRUE(taps.wheelTapEnabled());

  overlay.toggleOverlay(kDrawSpotlight);
  wait(399ms);
  EXPECT_TRUE(taps.motionTapEnabled());
  EXPECT_TRUE(taps.wheelTapEnabled());
  wait(2ms);
  EXPECT_FALSE(taps.motionTapEnabled());
  EXPECT_FALSE(taps.wheelTapEnabled());
}

TEST_F(OverlayControllerTest, RedrawsFollowThePointerAtMostEvery18ms) {
  spotlightShown();

  // A motion event every millisecond for 100 ms.
  for (int i = 0; i < 100; ++i) {
    overlay.requestOverlayRedraw(0);
    wait(1ms);
  }
  size_t redraws = window.count("redraw");
  EXPECT_GE(redraws, 5u);
  EXPECT_LE(redraws, 6u);

  // The pointer stopped inside an interval: one more redraw catches up.
  wait(50ms);
  EXPECT_EQ(window.count("redraw"), redraws + 1);

  // A busy main thread gets no pile of redraws: the one redraw, late as it
  // is, finds the pointer where it is now.
  window.calls.clear();
  for (int i = 0; i < 100; ++i) {
    overlay.requestOverlayRedraw(0);
    delayed.advance(1ms);
  }
  EXPECT_EQ(main.pending(), 1u);
  main.runPending();
  wait(50ms);
  EXPECT_EQ(window.count("redraw"), 1u);

  // A window that follows the pointer itself runs no redraw interval.
  window.followsItself = true;
  overlay.attach(&window, &taps);
  window.calls.clear();
  overlay.requestOverlayRedraw(0);
  overlay.requestOverlayRedraw(0.5f);
  EXPECT_EQ(main.pending(), 0u);
  wait(600ms);
  EXPECT_EQ(window.count("redraw"), 0u);
}

TEST_F(OverlayControllerTest, SizeStepsStayWithinTheRangeAndSave) {
  struct Case {
    int32_t from;
    float delta;
    int32_t to;
  };
  for (auto c : {Case{310, 1, 320}, Case{310, -3, 300}, Case{500, 1, 500}, Case{200, -1, 200},
                 Case{205, -1, 200}, Case{205, 1, 215}, Case{990, 1, 500}, Case{990, -1, 980}}) {
    settings.spotlightSize = c.from;
    saves = 0;
    overlay.postSizeStep(c.delta);
    main.runPending();
    EXPECT_EQ(settings.spotlightSize, c.to) << c.from << " by " << c.delta;
    EXPECT_EQ(saves, 1);
  }
  window.calls.clear();
  settings.spotlightSize = 310;
  saves = 0;
  overlay.sizeStep(0);
  EXPECT_EQ(settings.spotlightSize, 310);
  EXPECT_EQ(saves, 0);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"display"}));
}

}  // namespace
}  // namespace velt
