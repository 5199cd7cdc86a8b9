#include <gtest/gtest.h>

#include <set>

#include "device/vendor_reports.h"
#include "tools/mouse_sim/sim_commands.h"
#include "tools/virtual_mouse/virtual_mice.h"

namespace velt {
namespace {

using Verb = SimCommand::Verb;

SimCommand parsed(std::string_view line) {
  std::string error;
  auto command = parseSimCommand(line, error);
  EXPECT_TRUE(command.has_value()) << line << ": " << error;
  return command.value_or(SimCommand{});
}

std::string errorOf(std::string_view line) {
  std::string error;
  EXPECT_FALSE(parseSimCommand(line, error).has_value()) << line;
  return error;
}

TEST(SimCommandTest, ParsesEveryCommand) {
  EXPECT_EQ(parsed("plug QR-350").model, &virtualMouse("QR-350"));
  EXPECT_EQ(parsed("  PLUG boot-mouse  # the other maker's").model, &bootMouse());
  EXPECT_EQ(parsed("plug other-mouse").model->type, 254);

  SimCommand press = parsed("press 2 0x1C");
  EXPECT_EQ(press.verb, Verb::Press);
  EXPECT_EQ(press.mouse, 2);
  EXPECT_EQ(press.value, 0x1C);
  SimCommand release = parsed("release 2");
  EXPECT_EQ(release.verb, Verb::Press);
  EXPECT_EQ(release.value, 0);
  EXPECT_EQ(parsed("extra 1 250").value, 0xFA);

  SimCommand send = parsed("send 1 1 12 14 0x02 00 fa");
  EXPECT_EQ(send.interfaceIndex, 1u);
  EXPECT_EQ(send.bytes, (std::vector<uint8_t>{0x12, 0x14, 0x02, 0x00, 0xFA}));

  EXPECT_EQ(parsed("unplug all").mouse, 0);
  EXPECT_EQ(parsed("unplug 3").mouse, 3);
  EXPECT_EQ(parsed("wait 250").milliseconds, 250);
  EXPECT_EQ(parsed("reports 1").verb, Verb::Reports);
  EXPECT_EQ(parsed("quit").verb, Verb::Quit);
}

TEST(SimCommandTest, BlankAndCommentLinesAreNoCommand) {
  for (const char* line : {"", "   ", "# plug qr-350", "\t# note"}) {
    std::string error = "stale";
    EXPECT_FALSE(parseSimCommand(line, error).has_value()) << line;
    EXPECT_EQ(error, "") << line;
  }
}

TEST(SimCommandTest, BadLinesSayWhatIsWrong) {
  EXPECT_EQ(errorOf("jump 1"), "unknown command \"jump\" (help lists them)");
  EXPECT_EQ(errorOf("press 1"), "usage: press N MASK");
  EXPECT_EQ(errorOf("plug"), "usage: plug MODEL");
  EXPECT_EQ(errorOf("plug QR-999"), "no model \"QR-999\" in: plug MODEL");
  EXPECT_EQ(errorOf("press 1 0x100"), "bad byte \"0x100\" in: press N MASK");
  EXPECT_EQ(errorOf("press 0 4"), "bad mouse number \"0\" in: press N MASK");
  EXPECT_EQ(errorOf("press -1 4"), "bad mouse number \"-1\" in: press N MASK");
  EXPECT_EQ(errorOf("send 1 0 12 xz"), "bad byte \"xz\" in: send N INTERFACE BYTE...");
  EXPECT_EQ(errorOf("wait soon"), "bad time \"soon\" in: wait MS");
}

TEST(SimCommandTest, EveryPluggableMouseHasAName) {
  std::set<std::string> names;
  for (const VirtualMouse* m : pluggableMice()) {
    names.insert(commandName(*m));
    EXPECT_EQ(parsed("plug " + commandName(*m)).model, m);
  }
  EXPECT_EQ(names.size(), virtualMice().size() + 1);
}

TEST(VirtualResponderTest, AnswersOnlyOnceAskedAndOnlyItsReports) {
  using Bytes = std::vector<uint8_t>;
  const Bytes bt = identificationAnswer(6, 0x25);
  VirtualResponder responder({{VirtualReportKind::Input, 7, bt, 1},
                              {VirtualReportKind::Feature, 0, identificationAnswer(1, 0x35)}});
  // Before it was sent report 7: zeros behind the id, as long as the answer.
  Bytes zeros(bt.size(), 0);
  zeros[0] = 0x07;
  EXPECT_EQ(responder.read(VirtualReportKind::Input, 7, 64), zeros);
  responder.received(5);
  EXPECT_EQ(responder.read(VirtualReportKind::Input, 7, 64), zeros);
  responder.received(7);
  EXPECT_EQ(responder.read(VirtualReportKind::Input, 7, 64), bt);
  EXPECT_EQ(responder.read(VirtualReportKind::Input, 7, 4), Bytes(bt.begin(), bt.begin() + 4));
  EXPECT_EQ(responder.read(VirtualReportKind::Feature, 0, 8)->size(), 8u);
  // A report it does not have, or of another kind.
  EXPECT_FALSE(responder.read(VirtualReportKind::Feature, 7, 64));
  EXPECT_FALSE(responder.read(VirtualReportKind::Input, 0, 64));
}

}  // namespace
}  // namespace velt
