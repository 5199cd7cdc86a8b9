#include "actions/action_engine.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <stdexcept>
#include <utility>

#include "actions/key_codes.h"
#include "core/profiles.h"
#include "core/settings.h"
#include "device/input_reports.h"
#include "tests/actions/fake_desktop.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::keyDown;
using testing::keyUp;
using Events = std::vector<std::string>;

// The chord's keys pressed in order, then released in reverse.
Events tap(std::initializer_list<uint16_t> keys) {
  Events out;
  for (uint16_t k : keys) out.push_back(keyDown(k));
  for (auto k = std::rbegin(keys); k != std::rend(keys); ++k) out.push_back(keyUp(*k));
  return out;
}

class RecordingOverlay : public OverlayControl, public TapControl {
 public:
  void toggleOverlay(int32_t drawMode) override {
    if (throwOnToggle) throw std::runtime_error("window gone");
    calls.push_back("toggle " + std::to_string(drawMode));
  }
  void spotlightPressed() override {
    calls.push_back("spotlightPressed");
    held = false;
  }
  void setOverlayShown(bool show, int32_t drawMode) override {
    calls.push_back("shown " + std::to_string(show) + " " + std::to_string(drawMode));
  }
  void hideOverlayIfVisible() override {}
  bool spotlightHeld() const override { return held; }
  void scheduleWheelTapUpdate(float delay) override {
    calls.push_back("wheel tap " + std::to_string(delay));
  }
  void scheduleMotionTapUpdate(float delay) override {
    calls.push_back("motion tap " + std::to_string(delay));
  }

  // The calls so far, forgotten.
  std::vector<std::string> take() { return std::exchange(calls, {}); }

  std::vector<std::string> calls;
  bool held = false;
  bool throwOnToggle = false;
};

class ActionEngineTest : public ::testing::Test {
 protected:
  ActionEngineTest() {
    engine.setOverlayControl(&overlay);
    engine.setTapControl(&overlay);
  }
  void press(uint8_t code, uint8_t op1 = 0, uint8_t op2 = 0) {
    engine.runButtonFunction(code, 1, op1, op2);
  }
  void release(uint8_t code, uint8_t op1 = 0, uint8_t op2 = 0) {
    engine.runButtonFunction(code, 0, op1, op2);
  }

  testing::CaptureLog log;
  testing::RecordingInput input;
  testing::FixedPointer pointer;
  testing::FakeWindows windows;
  testing::FakeDesktopSession session = testing::FakeDesktopSession::gnome();
  testing::ManualMainThread mainThread;
  PointerModeState modes;
  SyntheticEvents events{input, pointer};
  DesktopCommands desktop{session, mainThread};
  ActionEngine engine{events, desktop, windows, modes, mainThread};
  RecordingOverlay overlay;
};

TEST_F(ActionEngineTest, CodesOutsideTheTableDoNothing) {
  for (int code : {0, 31, 99, 255}) {
    press(static_cast<uint8_t>(code), 35, 15);
    release(static_cast<uint8_t>(code), 35, 15);
  }
  EXPECT_TRUE(input.events().empty());
  EXPECT_EQ(mainThread.pending(), 0u);
  EXPECT_TRUE(overlay.calls.empty());
  EXPECT_TRUE(log.lines().empty());

  // Without an overlay or taps the overlay's functions break nothing.
  engine.setOverlayControl(nullptr);
  engine.setTapControl(nullptr);
  for (uint8_t code : {18, 19, 23, 25}) {
    press(code);
    release(code);
  }
  mainThread.runPending();
  EXPECT_EQ(modes.wheelMode.load(), kWheelOff);
  EXPECT_TRUE(overlay.calls.empty());
}

TEST_F(ActionEngineTest, KeyFunctionsSendTheirLinuxChordOnPressOnly) {
  const std::pair<uint8_t, Events> table[] = {
      {2, tap({KEY_LEFTALT, KEY_LEFT})}, {3, tap({KEY_LEFTALT, KEY_RIGHT})},
      {13, tap({KEY_LEFTCTRL, KEY_C})},  {14, tap({KEY_LEFTCTRL, KEY_X})},
      {15, tap({KEY_LEFTCTRL, KEY_V})},  {28, tap({KEY_LEFTALT, KEY_A})},
      {29, tap({KEY_LEFTALT, KEY_V})},   {7, tap({KEY_VOLUMEUP})},
      {8, tap({KEY_VOLUMEDOWN})},        {9, tap({KEY_MUTE})},
      {10, tap({KEY_PLAYPAUSE})},        {11, tap({KEY_PREVIOUSSONG})},
      {12, tap({KEY_NEXTSONG})},
  };
  for (const auto& [code, expected] : table) {
    press(code);
    EXPECT_EQ(input.take(), expected) << "code " << int(code);
    release(code);
    EXPECT_TRUE(input.take().empty()) << "code " << int(code);
  }
  EXPECT_EQ(events.modifierState(), 0u);
}

TEST_F(ActionEngineTest, RecordedShortcutIsHeldWhileTheButtonIs) {
  press(27, 35, kModCommand | kModShift);  // P with Super and Shift
  EXPECT_EQ(input.take(), (Events{keyDown(KEY_LEFTSHIFT), keyDown(KEY_LEFTMETA), keyDown(KEY_P)}));
  EXPECT_EQ(events.modifierState(), kFlagCommand | kFlagShift);
  release(27, 35, kModCommand | kModShift);
  EXPECT_EQ(input.take(), (Events{keyUp(KEY_P), keyUp(KEY_LEFTMETA), keyUp(KEY_LEFTSHIFT)}));

  press(27, 35, kModControl | kModOption | kModCommand | kModShift);
  release(27, 35, kModControl | kModOption | kModCommand | kModShift);
  EXPECT_EQ(input.take(),
            (Events{keyDown(KEY_LEFTSHIFT), keyDown(KEY_LEFTALT), keyDown(KEY_LEFTMETA),
                    keyDown(KEY_LEFTCTRL), keyDown(KEY_P), keyUp(KEY_P), keyUp(KEY_LEFTCTRL),
                    keyUp(KEY_LEFTMETA), keyUp(KEY_LEFTALT), keyUp(KEY_LEFTSHIFT)}));

  press(27, 122, 0);  // F1 alone
  release(27, 122, 0);
  EXPECT_EQ(input.take(), tap({KEY_F1}));
  EXPECT_EQ(events.modifierState(), 0u);
}

TEST_F(ActionEngineTest, PresentationKeysOnlyWhileImpressIsActive) {
  for (uint8_t code : {20, 21, 22}) press(code);
  windows.active = WindowClass{"nautilus", "org.gnome.Nautilus"};
  for (uint8_t code : {20, 21, 22}) press(code);
  EXPECT_TRUE(input.take().empty());

  windows.active = WindowClass{"libreoffice", "libreoffice-impress"};
  for (auto [code, key] : {std::pair<uint8_t, uint16_t>{20, KEY_B}, {21, KEY_F5}, {22, KEY_LEFT}}) {
    press(code);
    EXPECT_EQ(input.take(), tap({key})) << code;
    release(code);
    EXPECT_TRUE(input.take().empty()) << code;
  }
}

TEST_F(ActionEngineTest, PointerModesLastWhileHeld) {
  for (auto [code, mode] : {std::pair{23, kWheelHorizontal}, {24, kWheelVolume}}) {
    press(code);
    EXPECT_EQ(modes.wheelMode.load(), mode);
    release(code);
    EXPECT_EQ(modes.wheelMode.load(), kWheelOff);
  }
  EXPECT_EQ(overlay.take(), std::vector<std::string>(4, "wheel tap 0.000000"));

  // Motion modes record the anchor first; where the pointer cannot be read,
  // the last anchor stays.
  pointer.at = PointF{100.5, 200};
  press(25);
  EXPECT_EQ(modes.motionMode.load(), kMotionScroll);
  EXPECT_EQ(modes.pointerAnchorX.load(), 100.5);
  EXPECT_EQ(modes.pointerAnchorY.load(), 200);
  pointer.at = PointF{5, 6};
  press(26);
  EXPECT_EQ(modes.motionMode.load(), kMotionVolume);
  EXPECT_EQ(modes.pointerAnchorX.load(), 5);
  release(25);  // any motion release ends whichever mode is on
  EXPECT_EQ(modes.motionMode.load(), kMotionOff);
  pointer.at.reset();
  press(25);
  release(25);
  EXPECT_EQ(modes.pointerAnchorY.load(), 6);
  EXPECT_EQ(overlay.calls, std::vector<std::string>(5, "motion tap 0.000000"));
  EXPECT_TRUE(input.events().empty());
}

TEST_F(ActionEngineTest, SpotlightAndMagnifier) {
  using Calls = std::vector<std::string>;
  pointer.at = PointF{10, 20};
  press(18);
  EXPECT_EQ(modes.pointerAnchorX.load(), 10);
  EXPECT_TRUE(overlay.calls.empty());  // the press goes through the main thread
  mainThread.runPending();
  EXPECT_EQ(overlay.take(), Calls{"spotlightPressed"});

  release(18);  // before the hold check: the spotlight toggles
  mainThread.runPending();
  EXPECT_EQ(overlay.take(), Calls{"toggle 0"});

  // Press and release quicker than the main thread, after a pointer dot:
  // the release is judged after the press, which cleared the hold.
  overlay.held = true;
  press(18);
  release(18);
  mainThread.runPending();
  EXPECT_EQ(overlay.take(), (Calls{"spotlightPressed", "toggle 0"}));

  overlay.held = true;  // after the hold check showed the dot: it goes away
  release(18);
  EXPECT_TRUE(overlay.calls.empty());
  mainThread.runPending();
  EXPECT_EQ(overlay.take(), Calls{"shown 0 1"});

  press(19);
  release(19);
  EXPECT_EQ(overlay.take(), Calls{"toggle 2"});
}

TEST_F(ActionEngineTest, DesktopFunctionsNeverHoldTheCallingThread) {
  press(1);
  press(16);
  press(6);
  release(1);
  EXPECT_TRUE(session.started.empty());
  EXPECT_EQ(mainThread.runPending(), 3u);
  ASSERT_EQ(session.started.size(), 2u);
  EXPECT_EQ(session.started[0], testing::kExtensionCall + "ToggleOverview()");
  EXPECT_EQ(session.started[1].rfind("open folder ", 0), 0u);
  EXPECT_EQ(log.count("Dashboard"), 1u);
}

TEST_F(ActionEngineTest, AFailingActionIsLoggedAndAbandoned) {
  overlay.throwOnToggle = true;
  press(19);
  EXPECT_EQ(log.count("exception"), 1u);
  overlay.throwOnToggle = false;
  press(13);  // the engine carries on
  EXPECT_EQ(input.take(), tap({KEY_LEFTCTRL, KEY_C}));
}

constexpr uint8_t kSide = 1u << 3;
constexpr int32_t kVkP = 35;

// The dispatcher with the focused application's profile and this engine.
class ProfileDispatchTest : public ActionEngineTest {
 protected:
  ProfileDispatchTest() {
    ApplicationProfile editor{"org.gnome.TextEditor", {}};
    editor.assignments[2] = ButtonAssignmentValue{kFunctionShortcut, kVkP, 0};  // side button
    profiles.setList({editor});
    settings.interceptMask = unionMasks(settings, profiles.list()).intercept;
  }

  Settings settings;
  Profiles profiles;
  ProfileAssignments assignments{settings, profiles};
  ExtraButtonEnabled extraEnabled{};
  ButtonDispatcher dispatcher{settings, extraEnabled, engine, &assignments};
};

TEST_F(ProfileDispatchTest, AReleaseEndsWhatItsPressStartedWhereverTheFocusWent) {
  const std::string sideDown = "button" + keyDown(BTN_SIDE), sideUp = "button" + keyUp(BTN_SIDE);
  profiles.setFocusedApplication("org.gnome.TextEditor");
  dispatcher.consumeButtonMask(kSide);
  profiles.setFocusedApplication("firefox-esr");
  dispatcher.consumeButtonMask(0);
  EXPECT_EQ(input.take(), (Events{keyDown(KEY_P), keyUp(KEY_P)}));

  // Elsewhere the diverted button keeps its own function, through the
  // virtual pointer, also when the focus moves while it is held.
  dispatcher.consumeButtonMask(kSide);
  profiles.setFocusedApplication("org.gnome.TextEditor");
  dispatcher.consumeButtonMask(0);
  profiles.setFocusedApplication("firefox-esr");
  dispatcher.consumeButtonMask(kSide);
  events.releaseAllKeys();
  EXPECT_EQ(input.take(), (Events{sideDown, sideUp, sideDown, sideUp}));
}

}  // namespace
}  // namespace velt
