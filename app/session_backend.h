// Which backend draws the overlay and tells where the pointer is and which
// window has the focus, decided once at start-up from what the session
// offers.
#pragma once

namespace velt {

enum class SessionBackend {
  X11,         // the X display (X11 sessions, and anything not recognised)
  GnomeShell,  // a Wayland session of GNOME Shell: the agent's shell extension
};

// Main thread, after the application object exists. Asks the session bus
// once (whether GNOME Shell owns org.gnome.Shell) and logs the choice.
SessionBackend chooseSessionBackend();

}  // namespace velt
