#include "ui/agent_commands.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "ui/slot_assignments.h"

namespace velt {
namespace {

using testing::ButtonCall;
using Kind = AgentRequest::Kind;

std::optional<AgentRequest> parse(std::string_view line) {
  std::string error;
  auto request = parseRequestLine(line, &error);
  EXPECT_EQ(request.has_value(), error.empty()) << line;
  return request;
}

TEST(AgentCommands, OnlyCodesTheMenusOfferAndRecordingsOfAButton) {
  for (const char* good : {"run 13", "press 23", "release 27:4", "run 30", "show", "quit"}) {
    auto request = parse(good);
    ASSERT_TRUE(request) << good;
    EXPECT_EQ(requestLine(*request), good);
  }
  EXPECT_EQ(parse("reopen"), (AgentRequest{Kind::Show, {}}));
  EXPECT_EQ(parse("press 27:6"), (AgentRequest{Kind::Press, {27, 6}}));
  // 6 is offered by no menu; 27 plays a button's recording; no other code
  // takes a button; numbers are whole.
  for (const char* bad :
       {"run 0", "run 6", "run 31", "run 255", "run 27", "run 27:0", "run 27:7", "run 13:2",
        "run 1x", "run  13", "run", "run -1", "show 13", "jump 3", ""}) {
    EXPECT_FALSE(parse(bad)) << bad;
  }
}

TEST(AgentCommands, PressesAreHeldUntilReleasedOrTheAgentQuits) {
  Settings settings;
  slotAssignment(settings, 3).store({27, 35, 12});  // button 4: Shift+Super+P
  slotAssignment(settings, 0).store({13, 0, 0});
  testing::RecordingButtonRunner runner;
  CommandButtons buttons(runner, settings);

  EXPECT_EQ(buttons.perform({Kind::Run, {13, 0}}), "");
  EXPECT_EQ(buttons.perform({Kind::Press, {23, 0}}), "");
  EXPECT_EQ(buttons.perform({Kind::Press, {27, 4}}), "");
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{
                                {13, 1, 0, 0}, {13, 0, 0, 0}, {23, 1, 0, 0}, {27, 1, 35, 12}}));
  runner.clear();

  // Refused, and nothing reaches the dispatcher: a second press, a release
  // of what is not held, a button without a recording.
  EXPECT_NE(buttons.perform({Kind::Press, {23, 0}}), "");
  EXPECT_NE(buttons.perform({Kind::Run, {23, 0}}), "");
  EXPECT_NE(buttons.perform({Kind::Release, {24, 0}}), "");
  EXPECT_NE(buttons.perform({Kind::Release, {27, 5}}), "");
  EXPECT_EQ(buttons.perform({Kind::Press, {27, 1}}), "button 1 has no recorded shortcut");
  EXPECT_EQ(runner.count(), 0u);

  // A recording changed while held: the release lets go of what was pressed.
  slotAssignment(settings, 3).store({27, 0, 0});
  EXPECT_EQ(buttons.perform({Kind::Release, {27, 4}}), "");
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{27, 0, 35, 12}}));
  runner.clear();

  EXPECT_EQ(buttons.perform({Kind::Press, {25, 0}}), "");
  buttons.releaseAll();
  buttons.releaseAll();
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{25, 1, 0, 0}, {25, 0, 0, 0}, {23, 0, 0, 0}}));
}

}  // namespace
}  // namespace velt
