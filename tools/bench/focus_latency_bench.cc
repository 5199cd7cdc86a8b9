// How soon the profile in use follows a change of the focus on X11: from the
// window manager's setting _NET_ACTIVE_WINDOW on the root window to the
// profiles naming the new application. Against a real X server (run under
// xvfb-run); prints the median, 95th and 99th percentiles.
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/focus_follower.h"
#include "platform/x11/x11_focus_watch.h"

namespace {

using Clock = std::chrono::steady_clock;

uint32_t intern(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const uint32_t atom = reply ? reply->atom : 0;
  std::free(reply);
  return atom;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int screenNumber = 0;
  xcb_connection_t* wm = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(wm)) {
    std::fprintf(stderr, "focus_latency_bench: no X display (run it under xvfb-run)\n");
    return 77;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(wm)).data;
  // Two windows of two applications, as a window manager would see them.
  std::vector<uint32_t> windows;
  for (const char* cls : {"bench-editor\0Bench-editor", "bench-browser\0Bench-browser"}) {
    const uint32_t w = xcb_generate_id(wm);
    xcb_create_window(wm, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const size_t length = std::strlen(cls) + 1 + std::strlen(cls + std::strlen(cls) + 1) + 1;
    xcb_change_property(wm, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(length), cls);
    windows.push_back(w);
  }
  const uint32_t active = intern(wm, "_NET_ACTIVE_WINDOW");
  xcb_flush(wm);

  constexpr int kRounds = 500;
  std::vector<double> lags;
  Clock::time_point changed;
  int round = 0;
  std::string expected;
  auto next = [&] {
    const uint32_t w = windows[static_cast<size_t>(round % 2)];
    expected = round % 2 ? "Bench-browser" : "Bench-editor";
    changed = Clock::now();
    xcb_change_property(wm, XCB_PROP_MODE_REPLACE, screen->root, active, XCB_ATOM_WINDOW, 32, 1,
                        &w);
    xcb_flush(wm);
  };

  velt::Profiles profiles;
  // The agent's path, with the lag taken once the profiles know.
  struct Source : velt::FocusSource {
    void watchActiveWindow(Handler handler) override {
      if (!handler) return watch.watch(nullptr);
      watch.watch([this, handler](const std::optional<velt::WindowClass>& window) {
        handler(window);
        told();
      });
    }
    velt::X11FocusWatch watch;
    std::function<void()> told;
  } source;
  source.told = [&] {
    if (profiles.focusedApplication() != expected) return;
    lags.push_back(std::chrono::duration<double, std::milli>(Clock::now() - changed).count());
    if (++round == kRounds) {
      QCoreApplication::quit();
      return;
    }
    QTimer::singleShot(1, next);
  };
  velt::FocusFollower follower(profiles);
  follower.follow(source, {});
  QTimer::singleShot(0, next);
  app.exec();
  follower.stop();

  std::sort(lags.begin(), lags.end());
  auto at = [&](double q) { return lags[static_cast<size_t>(q * (lags.size() - 1))]; };
  std::printf("focus change to profile (X11, %zu changes): p50 %.3f ms, p95 %.3f ms, p99 %.3f ms\n",
              lags.size(), at(0.5), at(0.95), at(0.99));
  xcb_disconnect(wm);
  return 0;
}
