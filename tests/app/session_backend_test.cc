#include "app/session_backend.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velt
