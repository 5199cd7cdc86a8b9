#include <gtest/gtest.h>

#include <cstdlib>

#include "core/clock.h"
#include "platform/qt_desktop_session.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

// Two pictures taken in the same second: each has a name of its own, and
// the second one failing does not take the first one with it.
TEST(QtDesktopSession, PicturesOfTheSameSecondEachKeepTheirOwnFile) {
  testing::TempDir home;
  const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
  testing::writeFile(home / "good", "#!/bin/sh\nprintf picture > \"$1\"\n");
  testing::writeFile(home / "failing", "#!/bin/sh\nexit 1\n");
  fs::permissions(home / "good", fs::perms::owner_all);
  fs::permissions(home / "failing", fs::perms::owner_all);

  X11Session x11(systemClock(), ":9999");
  std::vector<std::string> outcomes;
  {
    QtDesktopSession session(x11);
    for (const char* program : {"good", "failing"}) {
      DesktopCall call{DesktopCall::Kind::ScreenshotProgram, {}, {}, {}, {}, {(home / program)}};
      session.start(call, [&](std::string failure) { outcomes.push_back(failure); });
    }
    EXPECT_TRUE(testing::processEventsUntil([&] { return outcomes.size() == 2; }, 20000));
  }
  setenv("HOME", oldHome.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(outcomes, (std::vector<std::string>{"", "exit status 1"}));
  std::vector<std::string> pictures;
  for (const auto& e : fs::directory_iterator(home / "Pictures")) {
    pictures.push_back(testing::readFile(e.path()));
  }
  EXPECT_EQ(pictures, std::vector<std::string>{"picture"});
}

}  // namespace
}  // namespace velt
