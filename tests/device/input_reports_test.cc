#include "device/input_reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "device/vendor_reports.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::ButtonCall;
using testing::RecordingButtonRunner;
using Bytes = std::vector<uint8_t>;

// A report as onInputReport hands it on, cut to length: from byte 0, with
// the report id that byte holds (type 10's reports start with 0).
DecodedReport decode(int32_t type, bool swap45, Bytes report, size_t length = 64) {
  report.resize(std::min(length, report.size()));
  length = report.size();
  report.resize(65, 0);
  return decodeInputReport(type, swap45, report[0], report.data(), length);
}

void expectButtons(const DecodedReport& r, uint8_t mask, uint8_t extra) {
  ASSERT_EQ(r.status, DecodedReport::Buttons);
  EXPECT_TRUE(r.hasMask);
  EXPECT_EQ(r.mask, mask);
  EXPECT_EQ(r.extraCode, extra);
}

// The same report with one byte changed.
Bytes with(Bytes report, size_t at, uint8_t value) {
  report[at] = value;
  return report;
}

TEST(DecodeInputReportTest, EveryTypeReadsWhatItsMiceSend) {
  for (int32_t type : {1, 2, 6, 10}) {
    for (bool swap45 : {false, true}) {
      for (uint8_t mask : {0x00, 0x02, 0x08, 0x10, 0x1A}) {
        for (uint8_t extra : {0x00, 0xFA}) {
          SCOPED_TRACE(::testing::Message() << "type " << type << " swap " << swap45 << " mask "
                                            << int(mask) << " extra " << int(extra));
          // Only type 2 exchanges the side buttons; only types 1 and 2 have
          // extra buttons.
          const bool swapped = type == 2 && swap45 && (mask == 0x08 || mask == 0x10);
          expectButtons(decode(type, swap45, buttonReport(type, mask, extra)),
                        swapped ? mask ^ 0x18 : mask, type <= 2 ? extra : 0);
        }
      }
    }
  }
  // Bytes the type does not read: 12 12 carries no extra code, type 6 none.
  expectButtons(decode(1, false, with(buttonReport(1, 0x08, 0xFA), 1, 0x12)), 0x08, 0x00);
  expectButtons(decode(6, false, with(buttonReport(6, 0x04), 3, 0xFA)), 0x04, 0x00);
  // Other reports of the same mice, and types without vendor reports.
  for (const auto& [type, report] : {std::pair{1, with(buttonReport(1, 2, 0xFA), 0, 0x11)},
                                     {1, with(buttonReport(1, 2, 0xFA), 1, 0x13)},
                                     {2, with(buttonReport(2, 8), 0, 0x01)},
                                     {6, with(buttonReport(6, 4), 0, 0x01)},
                                     {0, buttonReport(2, 8, 0xFA)},
                                     {7, buttonReport(2, 8, 0xFA)},
                                     {254, buttonReport(2, 8, 0xFA)}}) {
    EXPECT_EQ(decode(type, false, report).status, DecodedReport::Ignored) << type;
  }
}

TEST(DecodeInputReportTest, ShortButtonReportsAreRefused) {
  for (auto [type, extra, needed] :
       {std::tuple{1, 0xFA, 5}, {1, 0x00, 3}, {2, 0x00, 4}, {6, 0x00, 2}, {10, 0x00, 5}}) {
    const Bytes report = buttonReport(type, 0x02, extra);
    const DecodedReport r = decode(type, false, report, needed - 1);
    EXPECT_EQ(r.status, DecodedReport::TooShort) << type;
    EXPECT_EQ(r.needed, size_t(needed)) << type;
    EXPECT_EQ(decode(type, false, report, needed).status, DecodedReport::Buttons) << type;
  }
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
