#include "device/input_reports.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::ButtonCall;
using testing::RecordingButtonRunner;
using Bytes = std::vector<uint8_t>;

DecodedReport decode(int32_t type, bool swap45, const Bytes& report, bool numbered = true) {
  Bytes buffer(65, 0);
  std::copy(report.begin(), report.end(), buffer.begin());
  return decodeInputReport(type, swap45, numbered ? report[0] : 0, buffer.data(), report.size());
}

void expectButtons(const DecodedReport& r, uint8_t mask, uint8_t extra) {
  ASSERT_EQ(r.status, DecodedReport::Buttons);
  EXPECT_TRUE(r.hasMask);
  EXPECT_EQ(r.mask, mask);
  EXPECT_EQ(r.extraCode, extra);
}

TEST(DecodeInputReportTest, EveryType) {
  // Type 1: 12 14 carries an extra-button code in byte 4, 12 12 does not.
  expectButtons(decode(1, false, {0x12, 0x14, 0x02, 0x00, 0xFA}), 0x02, 0xFA);
  expectButtons(decode(1, false, {0x12, 0x12, 0x08, 0x00, 0xFA}), 0x08, 0x00);
  expectButtons(decode(1, false, {0x12, 0x12, 0x08}), 0x08, 0x00);
  EXPECT_EQ(decode(1, false, {0x11, 0x14, 0x02, 0x00, 0xFA}).status, DecodedReport::Ignored);
  EXPECT_EQ(decode(1, false, {0x12, 0x13, 0x02, 0x00, 0xFA}).status, DecodedReport::Ignored);
  // Swapping is a type-2 matter only.
  expectButtons(decode(1, true, {0x12, 0x12, 0x08}), 0x08, 0x00);

  // Type 2: report 7, side buttons exchanged when the model says so.
  expectButtons(decode(2, true, {0x07, 0x08, 0x00, 0x00}), 0x10, 0x00);
  expectButtons(decode(2, false, {0x07, 0x08, 0x00, 0xFE}), 0x08, 0xFE);
  expectButtons(decode(2, true, {0x07, 0x1A, 0x00, 0x00}), 0x1A, 0x00);
  EXPECT_EQ(decode(2, false, {0x01, 0x08, 0x00, 0x00}).status, DecodedReport::Ignored);

  // Type 6: report 7, mask in byte 1, no extra buttons.
  expectButtons(decode(6, false, {0x07, 0x04, 0x00, 0xFA}), 0x04, 0x00);
  EXPECT_EQ(decode(6, false, {0x01, 0x04}).status, DecodedReport::Ignored);

  // Type 10: any report, mask in byte 4.
  expectButtons(decode(10, false, {0x00, 0x01, 0x02, 0x03, 0x10, 0x05}, false), 0x10, 0x00);

  // Types without vendor reports, and removed devices.
  for (int32_t type : {0, 7, 254}) {
    EXPECT_EQ(decode(type, false, {0x07, 0x08, 0x00, 0xFA, 0x08}).status, DecodedReport::Ignored);
  }
}

TEST(DecodeInputReportTest, ShortButtonReportsAreRefused) {
  auto r = decode(1, false, {0x12, 0x14, 0x02});
  EXPECT_EQ(r.status, DecodedReport::TooShort);
  EXPECT_EQ(r.needed, 5u);
  EXPECT_EQ(decode(2, false, {0x07, 0x08, 0x00}).needed, 4u);
  EXPECT_EQ(decode(6, false, {0x07}).status, DecodedReport::TooShort);
  EXPECT_EQ(decode(10, false, {0x00, 0x00, 0x00, 0x00}, false).needed, 5u);
}

class ButtonDispatcherTest : public ::testing::Test {
 protected:
  Settings settings;
  ExtraButtonEnabled enabled{};
  RecordingButtonRunner runner;
  ButtonDispatcher dispatcher{settings, enabled, runner};
};

TEST_F(ButtonDispatcherTest, ChangedBitsInOrder) {
  settings.StandardButtonAssignments[2].store({13, 0, 0});
  // Only the low 8 bits of a recorded shortcut's operands reach the runner.
  settings.StandardButtonAssignments[3].store({27, 0x108, 0x105});
  dispatcher.consumeButtonMask(0x0C);
  dispatcher.consumeButtonMask(0x0C);  // unchanged: nothing
  dispatcher.consumeButtonMask(0x05);  // bit 0 (code 0) pressed, bit 3 released
  dispatcher.consumeButtonMask(0xC5);  // bits 6 and 7 are remembered only
  dispatcher.consumeButtonMask(0x00);
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{
                                {13, 1, 0, 0},
                                {27, 1, 0x08, 0x05},
                                {0, 1, 0, 0},
                                {27, 0, 0x08, 0x05},
                                {0, 0, 0, 0},
                                {13, 0, 0, 0},
                            }));
}

TEST_F(ButtonDispatcherTest, ExtraButtonsHeldAndTapped) {
  enabled[0] = true;
  enabled[1] = true;
  settings.ExtraButtonAssignments[0].store({0, 3, 4});  // built-in Spotlight, operands kept
  settings.ExtraButtonAssignments[1].store({9, 0, 0});
  dispatcher.postExtraButtonCode(0xFE, 0);
  dispatcher.postExtraButtonCode(0, 0xFE);  // FE is no release code
  dispatcher.postExtraButtonCode(0xFD, 0);  // FD is no press code
  dispatcher.postExtraButtonCode(0, 0xFD);
  dispatcher.postExtraButtonCode(0xFA, 0);
  dispatcher.postExtraButtonCode(0, 0xFA);
  // Extra button 2 is not enabled; 0x33 is nobody's code.
  dispatcher.postExtraButtonCode(0xFC, 0);
  dispatcher.postExtraButtonCode(0x33, 0x33);
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{
                                {18, 1, 3, 4},
                                {18, 0, 3, 4},
                                {9, 1, 0, 0},
                                {9, 0, 0, 0},
                            }));

  runner.clear();
  enabled[2] = true;
  dispatcher.postExtraButtonCode(0xFC, 0);
  dispatcher.postExtraButtonCode(0, 0xFC);
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{7, 1, 0, 0}, {7, 0, 0, 0}}));
}

TEST_F(ButtonDispatcherTest, AReleaseEndsWhatItsPressStartedAfterAReassignment) {
  // A shortcut held while the window reassigns its button: the release must
  // still let go of the shortcut's keys, and a pointer mode must still end.
  settings.StandardButtonAssignments[3].store({27, 8, 4});
  dispatcher.consumeButtonMask(0x08);
  settings.StandardButtonAssignments[3].store({13, 0, 0});
  dispatcher.consumeButtonMask(0x00);
  dispatcher.consumeButtonMask(0x08);  // the next press takes the new function
  dispatcher.consumeButtonMask(0x00);

  enabled[0] = true;
  settings.ExtraButtonAssignments[0].store({23, 0, 0});
  dispatcher.postExtraButtonCode(0xFE, 0);
  settings.ExtraButtonAssignments[0].store({9, 0, 0});
  dispatcher.postExtraButtonCode(0, 0xFD);
  dispatcher.postExtraButtonCode(0, 0xFD);  // a release without a press takes the current one
  // A press code twice (its release was lost) with a reassignment between:
  // the first function ends before the second starts.
  dispatcher.postExtraButtonCode(0xFE, 0);
  settings.ExtraButtonAssignments[0].store({25, 0, 0});
  dispatcher.postExtraButtonCode(0xFE, 0);
  dispatcher.postExtraButtonCode(0, 0xFD);
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{
                                {27, 1, 8, 4},
                                {27, 0, 8, 4},
                                {13, 1, 0, 0},
                                {13, 0, 0, 0},
                                {23, 1, 0, 0},
                                {23, 0, 0, 0},
                                {9, 0, 0, 0},
                                {9, 1, 0, 0},
                                {9, 0, 0, 0},
                                {25, 1, 0, 0},
                                {25, 0, 0, 0},
                            }));
}

}  // namespace
}  // namespace velt
