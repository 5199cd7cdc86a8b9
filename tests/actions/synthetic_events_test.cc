#include "actions/synthetic_events.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "actions/key_codes.h"
#include "tests/actions/fake_desktop.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::keyDown;
using testing::keyUp;
using testing::scrollText;
using Events = std::vector<std::string>;

class SyntheticEventsTest : public ::testing::Test {
 protected:
  testing::CaptureLog log;
  testing::RecordingInput input;
  testing::FixedPointer pointer;
  SyntheticEvents events{input, pointer};
};

TEST_F(SyntheticEventsTest, ModifierBookkeeping) {
  events.keyDown(kVkCommand);
  EXPECT_EQ(events.modifierState(), kFlagCommand);
  events.keyDown(8);
  events.keyUp(8);
  events.keyUp(kVkCommand);
  EXPECT_EQ(events.modifierState(), 0u);
  EXPECT_EQ(input.take(),
            (Events{keyDown(KEY_LEFTMETA), keyDown(KEY_C), keyUp(KEY_C), keyUp(KEY_LEFTMETA)}));

  events.keyDown(kVkShift);
  events.keyDown(kVkCommand);
  EXPECT_EQ(events.modifierState(), 0x00120000u);
  events.keyUp(kVkShift);
  EXPECT_EQ(events.modifierState(), 0x00100000u);
  EXPECT_EQ(input.take(),
            (Events{keyDown(KEY_LEFTSHIFT), keyDown(KEY_LEFTMETA), keyUp(KEY_LEFTSHIFT)}));

  // Pressing a held modifier again, or releasing one that is not held,
  // changes neither the flags nor the keyboard.
  events.keyDown(kVkCommand);
  events.keyUp(kVkOption);
  EXPECT_EQ(events.modifierState(), kFlagCommand);
  EXPECT_TRUE(input.take().empty());
  events.keyUp(kVkCommand);
  EXPECT_EQ(input.take(), Events{keyUp(KEY_LEFTMETA)});
}

TEST_F(SyntheticEventsTest, KeyCodesBeyondAByteUseTheirLowByteAndKeylessOnesAreLoggedOnce) {
  events.keyDown(300);  // 300 & 0xFF = 44, the slash key
  events.keyUp(300);
  events.keyDown(kVkCommand + 256);  // not a modifier: the whole value is tested
  EXPECT_EQ(events.modifierState(), 0u);
  EXPECT_EQ(input.take(), (Events{keyDown(KEY_SLASH), keyUp(KEY_SLASH), keyDown(KEY_LEFTMETA)}));

  events.keyDown(52);
  events.keyUp(52);
  events.tapSystemKey(3);
  events.tapSystemKey(3);
  events.postSystemKey(kMediaMute, 12);  // neither down nor up
  EXPECT_TRUE(input.events().empty());
  EXPECT_EQ(log.count("key code 52"), 1u);
  EXPECT_EQ(log.count("media key type 3"), 1u);
}

TEST_F(SyntheticEventsTest, ReleaseAllKeysLetsGoOfEverythingHeld) {
  events.keyDown(kVkShift);
  events.keyDown(kVkControl);
  events.keyDown(35);  // P
  events.keyDown(300);
  input.take();
  events.releaseAllKeys();
  EXPECT_EQ(events.modifierState(), 0u);
  EXPECT_EQ(input.take(),
            (Events{keyUp(KEY_P), keyUp(KEY_SLASH), keyUp(KEY_LEFTCTRL), keyUp(KEY_LEFTSHIFT)}));
  events.releaseAllKeys();
  EXPECT_TRUE(input.take().empty());
}

TEST_F(SyntheticEventsTest, ScrollConversion) {
  // Horizontal: positive scrolls left, which is negative on the evdev axis.
  events.postScrollEvent(0, 1.5);
  EXPECT_EQ(input.take(), Events{scrollText({0, 0, -180, -1})});
  events.postScrollEvent(0, 0.5);  // completes the second line
  EXPECT_EQ(input.take(), Events{scrollText({0, 0, -60, -1})});
  events.postScrollEvent(-2, 0);
  EXPECT_EQ(input.take(), Events{scrollText({-240, -2, 0, 0})});

  // Too small to send: nothing goes out, and nothing is lost either.
  events.postScrollEvent(0, -0.00001);
  EXPECT_TRUE(input.take().empty());
  events.postScrollEvent(NAN, INFINITY);
  EXPECT_TRUE(input.take().empty());
}

TEST_F(SyntheticEventsTest, SmallScrollStepsAddUpExactly) {
  int32_t hiRes = 0;
  int32_t lines = 0;
  for (int i = 0; i < 1000; ++i) {
    events.postScrollEvent(0.001, 0);  // 0.12 units each
  }
  for (int i = 0; i < 30; ++i) events.postScrollEvent(-0.1, 0);  // back by 3 lines
  for (const auto& e : input.take()) {
    int v = 0, vl = 0, h = 0, hl = 0;
    ASSERT_EQ(std::sscanf(e.c_str(), "scroll v %d/%d h %d/%d", &v, &vl, &h, &hl), 4) << e;
    hiRes += v;
    lines += vl;
  }
  EXPECT_EQ(hiRes, 120 - 360);
  EXPECT_EQ(lines, 1 - 3);
}

TEST_F(SyntheticEventsTest, ConcurrentChordsLeaveNoModifierHeld) {
  auto chords = [&](int32_t modifier) {
    for (int i = 0; i < 500; ++i) {
      events.keyDown(modifier);
      events.keyDown(8);
      events.keyUp(8);
      events.keyUp(modifier);
    }
  };
  std::thread a(chords, kVkControl);
  std::thread b(chords, kVkOption);
  a.join();
  b.join();
  EXPECT_EQ(events.modifierState(), 0u);
  const Events sent = input.take();
  for (uint16_t key : {KEY_LEFTCTRL, KEY_LEFTALT}) {
    EXPECT_EQ(std::count(sent.begin(), sent.end(), keyDown(key)),
              std::count(sent.begin(), sent.end(), keyUp(key)))
        << key;
  }
}

}  // namespace
}  // namespace velt
