#include "actions/desktop_commands.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <filesystem>

#include "tests/actions/fake_desktop.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::FakeDesktopSession;
using testing::keyDown;
using testing::keyUp;
using Calls = std::vector<std::string>;

const std::string kGnomeShowApplications =
    "dbus org.gnome.Shell /org/gnome/Shell org.gnome.Shell.ShowApplications()";

std::string kwinShortcut(const std::string& name) {
  return "dbus org.kde.kglobalaccel /component/kwin "
         "org.kde.kglobalaccel.Component.invokeShortcut(" +
         name + ")";
}

class DesktopCommandsTest : public ::testing::Test {
 protected:
  // Runs function and returns the calls it started.
  Calls run(DesktopFunction function) {
    session.started.clear();
    commands.run(function);
    mainThread.runPending();
    return session.started;
  }

  testing::CaptureLog log;
  FakeDesktopSession session;
  testing::ManualMainThread mainThread;
  testing::RecordingInput input;
  testing::FixedPointer pointer;
  SyntheticEvents keys{input, pointer};
  DesktopCommands commands{session, mainThread, keys};
};

TEST_F(DesktopCommandsTest, OnGnome) {
  session = FakeDesktopSession::gnome();
  EXPECT_EQ(run(DesktopFunction::WindowOverview), Calls{"GNOME Shell overview"});
  EXPECT_EQ(run(DesktopFunction::ShowDesktop), Calls{"_NET_SHOWING_DESKTOP"});
  EXPECT_EQ(run(DesktopFunction::Screenshot), Calls{"screenshot portal"});
  EXPECT_EQ(run(DesktopFunction::ApplicationGrid), Calls{kGnomeShowApplications});
  EXPECT_TRUE(input.take().empty());
}

TEST_F(DesktopCommandsTest, GnomeRefusingTheGridFallsBackToItsKey) {
  session = FakeDesktopSession::gnome();
  session.failing[kGnomeShowApplications] = "org.freedesktop.DBus.Error.AccessDenied";
  for (int press = 0; press < 2; ++press) {
    EXPECT_EQ(run(DesktopFunction::ApplicationGrid), Calls{kGnomeShowApplications});
    EXPECT_EQ(input.take(), (std::vector<std::string>{keyDown(KEY_LEFTMETA), keyDown(KEY_A),
                                                      keyUp(KEY_A), keyUp(KEY_LEFTMETA)}));
  }
  EXPECT_EQ(log.count("AccessDenied"), 1u);
}

TEST_F(DesktopCommandsTest, OnKde) {
  session = FakeDesktopSession::kde();
  EXPECT_EQ(run(DesktopFunction::WindowOverview), Calls{kwinShortcut("Expose")});
  EXPECT_EQ(run(DesktopFunction::ApplicationWindows), Calls{kwinShortcut("ExposeClass")});
  EXPECT_EQ(run(DesktopFunction::ShowDesktop), Calls{"_NET_SHOWING_DESKTOP"});
  EXPECT_EQ(
      run(DesktopFunction::ApplicationGrid),
      Calls{"dbus org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.activateLauncherMenu()"});
  session.showingDesktopHint = false;
  EXPECT_EQ(run(DesktopFunction::ShowDesktop), Calls{kwinShortcut("Show Desktop")});
}

TEST_F(DesktopCommandsTest, ScreenshotFallsBackWhenThePortalFails) {
  session = FakeDesktopSession::kde();
  session.failing["screenshot portal"] = "no screenshot backend";
  EXPECT_EQ(run(DesktopFunction::Screenshot), (Calls{"screenshot portal", "program spectacle"}));
  EXPECT_EQ(log.count("screenshot: screenshot portal failed: no screenshot backend"), 1u);
}

TEST_F(DesktopCommandsTest, OnAnUnknownDesktop) {
  EXPECT_TRUE(run(DesktopFunction::WindowOverview).empty());
  EXPECT_TRUE(run(DesktopFunction::WindowOverview).empty());
  EXPECT_TRUE(run(DesktopFunction::ApplicationWindows).empty());
  EXPECT_EQ(log.count("window overview: this desktop offers no way to do it"), 1u);
  EXPECT_EQ(log.count("application windows: this desktop offers no way to do it"), 1u);

  session.programs = {"gnome-screenshot"};
  EXPECT_EQ(run(DesktopFunction::Screenshot), Calls{"program gnome-screenshot --interactive"});
}

TEST_F(DesktopCommandsTest, FileManagerOpensTheWorkingDirectoryOfTheMoment) {
  testing::TempDir dir;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  commands.run(DesktopFunction::FileManager);
  std::filesystem::current_path(previous);
  mainThread.runPending();
  EXPECT_EQ(session.started, Calls{"open folder " + dir.path().string()});
}

}  // namespace
}  // namespace velt
