#include "platform/x11_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstring>

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

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
  xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  free(reply);
  return atom;
}

TEST(X11Session, ReadsTheActiveWindowPointerAndShowDesktopFromARealServer) {
  Xvfb server;
  if (server.display().empty()) GTEST_SKIP() << "no Xvfb to test against";
  xcb_connection_t* wm = xcb_connect(server.display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(wm));
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(wm)).data->root;

  // Play the window manager: an active window with a class, the supported
  // hints, and the redirect that receives client messages sent to the root.
  xcb_window_t window = xcb_generate_id(wm);
  xcb_create_window(wm, XCB_COPY_FROM_PARENT, window, root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  const char wmClass[] = "libreoffice\0libreoffice-impress";
  xcb_change_property(wm, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      sizeof wmClass, wmClass);
  xcb_change_property(wm, XCB_PROP_MODE_REPLACE, root, intern(wm, "_NET_ACTIVE_WINDOW"),
                      XCB_ATOM_WINDOW, 32, 1, &window);
  xcb_atom_t showing = intern(wm, "_NET_SHOWING_DESKTOP");
  xcb_change_property(wm, XCB_PROP_MODE_REPLACE, root, intern(wm, "_NET_SUPPORTED"), XCB_ATOM_ATOM,
                      32, 1, &showing);
  uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
  xcb_change_window_attributes(wm, root, XCB_CW_EVENT_MASK, &mask);
  xcb_warp_pointer(wm, XCB_NONE, root, 0, 0, 0, 0, 123, 45);
  free(xcb_get_input_focus_reply(wm, xcb_get_input_focus(wm), nullptr));

  testing::FakeClock clock;
  X11Session x11(clock, server.display());
  auto active = x11.activeWindowClass();
  ASSERT_TRUE(active);
  EXPECT_EQ(active->instance, "libreoffice");
  EXPECT_EQ(active->className, "libreoffice-impress");
  auto at = x11.pointerPosition();
  ASSERT_TRUE(at);
  EXPECT_EQ(at->x, 123);
  EXPECT_EQ(at->y, 45);
  EXPECT_TRUE(x11.supportsShowingDesktop());

  std::string reason;
  EXPECT_TRUE(x11.toggleShowingDesktop(reason));
  xcb_generic_event_t* event = xcb_wait_for_event(wm);
  ASSERT_TRUE(event);
  ASSERT_EQ(event->response_type & 0x7f, XCB_CLIENT_MESSAGE);
  auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
  EXPECT_EQ(message->type, showing);
  EXPECT_EQ(message->data.data32[0], 1u);  // not showing yet: show it
  free(event);

  // No active window: unknown, not an error.
  xcb_window_t none = XCB_WINDOW_NONE;
  xcb_change_property(wm, XCB_PROP_MODE_REPLACE, root, intern(wm, "_NET_ACTIVE_WINDOW"),
                      XCB_ATOM_WINDOW, 32, 1, &none);
  free(xcb_get_input_focus_reply(wm, xcb_get_input_focus(wm), nullptr));
  EXPECT_FALSE(x11.activeWindowClass());
  xcb_disconnect(wm);
}

}  // namespace
}  // namespace velt
