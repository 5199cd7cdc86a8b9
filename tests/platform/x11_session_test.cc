#include "platform/x11/x11_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>

#include "tests/support/test_support.h"

extern char** environ;

namespace velt {
namespace {

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

// A private X server for one test, when Xvfb is installed. The server picks
// a free display itself and tells its number through a pipe.
class Xvfb {
 public:
  Xvfb() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    std::string fd = std::to_string(pipeFds[1]);
    const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                          "-screen", "0",          "800x600x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) pid_ = 0;
    std::string number;
    pollfd p{pipeFds[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&p, 1, 5000) > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
    ::close(pipeFds[0]);
    if (number.empty()) {
      stop();
    } else {
      display_ = ":" + number;
    }
  }
  ~Xvfb() { stop(); }
  const std::string& display() const { return display_; }

 private:
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  pid_t pid_ = 0;
  std::string display_;
};

// The desktop rig's X11 run checks the active window and show desktop
// against a real window manager; where the pointer is it does not ask.
TEST(X11Session, ReadsThePointerFromARealServer) {
  Xvfb server;
  if (server.display().empty()) GTEST_SKIP() << "no Xvfb to test against";
  xcb_connection_t* c = xcb_connect(server.display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(c));
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_warp_pointer(c, XCB_NONE, root, 0, 0, 0, 0, 123, 45);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

  testing::FakeClock clock;
  X11Session x11(clock, server.display());
  auto at = x11.pointerPosition();
  ASSERT_TRUE(at);
  EXPECT_EQ(at->x, 123);
  EXPECT_EQ(at->y, 45);
  xcb_disconnect(c);
}

}  // namespace
}  // namespace velt
