#include "platform/x11/x11_session.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/test_support.h"

namespace velt {
namespace {

// Against a real X server and window manager: the desktop rig (tests/desktop).
TEST(X11Session, WithoutADisplayEverythingIsUnknownAndLoggedOnce) {
  testing::CaptureLog log;
  testing::FakeClock clock;
  X11Session x11(clock, ":9999");
  EXPECT_FALSE(x11.activeWindowClass());
  EXPECT_FALSE(x11.pointerPosition());
  EXPECT_FALSE(x11.supportsShowingDesktop());
  std::string reason;
  EXPECT_FALSE(x11.toggleShowingDesktop(reason));
  EXPECT_FALSE(reason.empty());
  clock.advance(std::chrono::seconds(10));
  EXPECT_FALSE(x11.activeWindowClass());
  EXPECT_EQ(log.count(":9999"), 1u);
}

}  // namespace
}  // namespace velt
