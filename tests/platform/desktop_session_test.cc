#include <gtest/gtest.h>

#include <algorithm>

#include "core/clock.h"
#include "platform/session/qt_desktop_session.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

// Two pictures taken in the same second: each has a file of its own, and the
// second one failing does not take the first one with it.
TEST(QtDesktopSession, PicturesOfTheSameSecondEachKeepTheirOwnFile) {
  testing::TempDir home;
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("HOME", home.path().c_str());  // and so Pictures
  std::vector<std::string> outcomes;
  {
    X11Session x11(systemClock(), ":9999");
    QtDesktopSession session(x11);
    for (const auto& [name, body] :
         {std::pair{"good", "printf picture > \"$1\""}, std::pair{"failing", "exit 1"}}) {
      const fs::path script = home / name;
      testing::writeFile(script, std::string("#!/bin/sh\n") + body + "\n");
      fs::permissions(script, fs::perms::owner_all);
      session.start({DesktopCall::Kind::ScreenshotProgram, {}, {}, {}, {}, {script}},
                    [&](std::string failure) { outcomes.push_back(failure); });
    }
    EXPECT_TRUE(testing::processEventsUntil([&] { return outcomes.size() == 2; }, 20000));
  }
  qputenv("HOME", oldHome);
  std::sort(outcomes.begin(), outcomes.end());  // in the order the programs ended
  EXPECT_EQ(outcomes, (std::vector<std::string>{"", "exit status 1"}));
  std::vector<std::string> pictures;
  for (const auto& e : fs::directory_iterator(home / "Pictures")) {
    pictures.push_back(testing::readFile(e.path()));
  }
  EXPECT_EQ(pictures, std::vector<std::string>{"picture"});
}

}  // namespace
}  // namespace velt
