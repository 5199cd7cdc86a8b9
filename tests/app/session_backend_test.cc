#include "app/session_backend.h"

#include <gtest/gtest.h>

#include "app/focus_follower.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

// What each session gets, and that a session which cannot show the overlay
// says why, naming the desktop.
TEST(SessionBackend, ChosenFromWhatTheSessionOffers) {
  SessionOffer x11;
  x11.x11 = true;
  EXPECT_EQ(chooseOverlayBackend(x11), OverlayBackend::X11);

  SessionOffer sway{
      .wayland = true, .layerShell = true, .virtualPointer = true, .x11 = true, .desktop = "sway"};
  EXPECT_EQ(chooseOverlayBackend(sway), OverlayBackend::LayerShell) << "XWayland is not X11";

  SessionOffer kde{.wayland = true, .layerShell = true, .kwin = true, .desktop = "KDE"};
  EXPECT_EQ(chooseOverlayBackend(kde), OverlayBackend::KWinScript);

  SessionOffer gnome{.wayland = true, .gnomeShell = true, .x11 = true, .desktop = "GNOME"};
  EXPECT_EQ(chooseOverlayBackend(gnome), OverlayBackend::GnomeShell) << "XWayland is not X11";

  testing::CaptureLog log;
  SessionOffer gnomeX11{.gnomeShell = true, .x11 = true, .desktop = "GNOME"};
  EXPECT_EQ(chooseOverlayBackend(gnomeX11), OverlayBackend::X11);
  SessionOffer blind{.wayland = true, .layerShell = true, .desktop = "Hyprland"};
  EXPECT_EQ(chooseOverlayBackend(blind), OverlayBackend::None);
  SessionOffer noLayers{.wayland = true, .x11 = true, .desktop = "Weston"};
  EXPECT_EQ(chooseOverlayBackend(noLayers), OverlayBackend::None);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_NE(log.lines()[0].find("Hyprland"), std::string::npos);
  EXPECT_NE(log.lines()[1].find("Weston"), std::string::npos);
}

// A desktop's focus source: tells what a test makes it tell.
struct FakeFocus : PointerLocator, ActiveWindowQuery, FocusSource {
  std::optional<PointF> pointerPosition() override { return std::nullopt; }
  std::optional<WindowClass> activeWindowClass() override { return active; }
  void watchActiveWindow(Handler handler) override {
    notices.setHandler(std::move(handler), [this] { return active; });
  }
  std::vector<WindowClass> openWindows() override { return open; }
  void focus(std::optional<WindowClass> window) {
    active = std::move(window);
    notices.tell(active);
  }
  std::optional<WindowClass> active;
  std::vector<WindowClass> open;
  FocusNotices notices;
};

DesktopEntries twoEntries() {
  DesktopEntries entries;
  entries.entries.resize(2);
  entries.entries[0].id = "firefox-esr";
  entries.entries[0].startupWMClass = "firefox";
  entries.entries[1].id = "org.gnome.TextEditor";
  return entries;
}

// The profiles hear each change from the backend in use, and only from it,
// with the application named by its desktop entry whatever the desktop calls
// it; a backend taken into use tells what it knows at once.
TEST(SessionBackend, FocusFollowsTheBackendInUseByDesktopEntryId) {
  DesktopEntries entries = twoEntries();
  FakeFocus x11, shell;
  x11.active = WindowClass{"Navigator", "firefox"};
  SessionQueries queries(x11, x11);
  Profiles profiles;
  FocusFollower follower(profiles);
  follower.follow(queries, entries);
  EXPECT_EQ(profiles.focusedApplication(), "firefox-esr") << "the class leads to the entry";

  shell.active = WindowClass{"gnome-text-editor", "Gnome-text-editor", "org.gnome.TextEditor"};
  queries.use(shell, shell);
  EXPECT_EQ(profiles.focusedApplication(), "org.gnome.TextEditor");
  x11.focus(WindowClass{"xterm", "XTerm"});
  EXPECT_EQ(profiles.focusedApplication(), "org.gnome.TextEditor")
      << "the old backend is not heard";
  shell.focus(std::nullopt);
  EXPECT_EQ(profiles.focusedApplication(), "");

  shell.focus(WindowClass{"firefox", "firefox", "firefox"});
  EXPECT_EQ(profiles.focusedApplication(), "firefox-esr") << "a Wayland app id that is no entry's";
  shell.focus(WindowClass{"x", "x", "../../evil id"});
  EXPECT_EQ(profiles.focusedApplication(), "") << "no id that is none";
  follower.stop();
  shell.focus(WindowClass{"a", "b", "org.gnome.TextEditor"});
  EXPECT_EQ(profiles.focusedApplication(), "");
}

// The windows open in the backend in use name their applications as the
// focus does, each once, without the agent's own or an id that is none; the
// entries read again name the next change of the focus.
TEST(SessionBackend, OpenWindowsNameTheirApplicationsAsTheFocusDoes) {
  FakeFocus x11, shell;
  x11.open = {{"xterm", "XTerm"}};
  shell.open = {{"Navigator", "firefox"},    {"x", "x", "quorin.driver.velt"},
                {"firefox", "firefox", ""},  {"xterm", "XTerm"},
                {"x", "x", "../../evil id"}, {"gedit", "Gedit", "org.gnome.TextEditor"}};
  SessionQueries queries(x11, x11);
  queries.use(shell, shell);
  EXPECT_EQ(applicationIdsOf(twoEntries(), queries.openWindows(), "quorin.driver.velt"),
            (std::vector<std::string>{"firefox-esr", "XTerm", "org.gnome.TextEditor"}));

  Profiles profiles;
  FocusFollower follower(profiles);
  follower.follow(queries, {});
  shell.focus(WindowClass{"Navigator", "firefox"});
  EXPECT_EQ(profiles.focusedApplication(), "firefox");
  follower.setEntries(twoEntries());
  shell.focus(WindowClass{"Navigator", "Firefox"});
  EXPECT_EQ(profiles.focusedApplication(), "firefox-esr");
}

}  // namespace
}  // namespace velt
