#include "actions/desktop_commands.h"

#include <gtest/gtest.h>

#include "tests/actions/fake_desktop.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::FakeDesktopSession;
using testing::kExtensionCall;
using Calls = std::vector<std::string>;

const std::string kGnomeShowApplications =
    "dbus org.gnome.Shell /org/gnome/Shell org.gnome.Shell.ShowApplications()";

class DesktopCommandsTest : public ::testing::Test {
 protected:
  // Runs function and returns the calls it started; finished gets the route
  // that worked.
  Calls run(DesktopFunction function) {
    session.started.clear();
    finished.reset();
    commands.run(function, [this](const std::string& route) { finished = route; });
    mainThread.runPending();
    return session.started;
  }

  testing::CaptureLog log;
  FakeDesktopSession session;
  testing::ManualMainThread mainThread;
  DesktopCommands commands{session, mainThread};
  std::optional<std::string> finished;
};

// Which route each function takes on GNOME, KDE, sway and X11 is checked on
// the real desktops (tests/desktop); here, what they do not show: refusals
// logged once, a route that fails giving way to the next, a session that
// has not yet learnt what its desktop offers.

TEST_F(DesktopCommandsTest, GnomeWithoutTheExtension) {
  session = FakeDesktopSession::gnome();
  session.services.erase("quorin.driver.velt.Shell");
  // The shell refuses the grid to other programs: logged once, and no other
  // route is offered.
  session.failing[kGnomeShowApplications] = "org.freedesktop.DBus.Error.AccessDenied";
  for (int press = 0; press < 2; ++press) {
    EXPECT_EQ(run(DesktopFunction::ApplicationGrid), Calls{kGnomeShowApplications});
    EXPECT_EQ(finished, "");
  }
  EXPECT_EQ(log.count("AccessDenied"), 1u);
  EXPECT_EQ(log.count("not offered"), 0u);
  EXPECT_EQ(run(DesktopFunction::Screenshot), Calls{"screenshot portal"});
}

TEST_F(DesktopCommandsTest, OnKdeAFailingPortalGivesWayToSpectacle) {
  session = FakeDesktopSession::kde();
  session.failing["screenshot portal"] = "no screenshot backend";
  EXPECT_EQ(run(DesktopFunction::Screenshot), (Calls{"screenshot portal", "program spectacle"}));
  EXPECT_EQ(finished, "program spectacle");
  EXPECT_EQ(log.count("screenshot: screenshot portal failed: no screenshot backend"), 1u);
}

TEST_F(DesktopCommandsTest, WhatADesktopLacksIsLoggedOnceNamingItAndWhatIsMissing) {
  EXPECT_TRUE(run(DesktopFunction::WindowOverview).empty());
  EXPECT_EQ(finished, "");
  EXPECT_TRUE(run(DesktopFunction::WindowOverview).empty());
  EXPECT_EQ(log.count("window overview: not offered on sway"), 1u);
  EXPECT_EQ(log.count("org.kde.KWin"), 1u);
}

TEST_F(DesktopCommandsTest, RoutesWaitUntilTheSessionHasLearntWhatTheDesktopOffers) {
  session = FakeDesktopSession::gnome();
  session.deferRefresh = true;
  commands.run(DesktopFunction::WindowOverview);
  mainThread.runPending();
  EXPECT_TRUE(session.started.empty());
  ASSERT_EQ(session.pendingRefreshes.size(), 1u);
  session.pendingRefreshes.front()();
  EXPECT_EQ(session.started, Calls{kExtensionCall + "ToggleOverview()"});
}

// GNOME Shell 45 loads extensions as ES modules and refuses the older kind.
TEST(ShellExtensionUuid, FollowsTheShellsMajorVersion) {
  EXPECT_EQ(shellExtensionUuid("43.9"), kShellExtensionUuid);
  EXPECT_EQ(shellExtensionUuid("44.10"), kShellExtensionUuid);
  EXPECT_EQ(shellExtensionUuid("45.beta"), kShellExtensionModuleUuid);
  EXPECT_EQ(shellExtensionUuid("48.1"), kShellExtensionModuleUuid);
  EXPECT_EQ(shellExtensionUuid(""), kShellExtensionUuid);
  EXPECT_EQ(shellExtensionUuid("99999999999999999999"), kShellExtensionModuleUuid);
}

}  // namespace
}  // namespace velt
