// The action engine and the Linux backends it drives, one per process: the
// virtual keyboard and pointer, the X11 display and the desktop session.
#pragma once

#include "actions/action_engine.h"
#include "actions/desktop_commands.h"
#include "actions/synthetic_events.h"
#include "app/session_backend.h"
#include "core/clock.h"
#include "core/main_thread.h"
#include "core/pointer_modes.h"
#include "platform/input/uinput_output.h"
#include "platform/session/qt_desktop_session.h"
#include "platform/x11/x11_session.h"

namespace velt {

struct ActionSystem {
  ActionSystem(MainThread& mainThread, PointerModeState& modes, Clock& clock);

  // Creates the virtual devices, so that the desktop knows them before the
  // first button is pressed.
  void start();
  // Releases every key the agent holds, then destroys the devices. Call once
  // nothing dispatches any more.
  void stop();
  // While another session has the seat: the same, but the devices come back
  // with resume(). Nothing typed meanwhile reaches the other session.
  void suspend();
  void resume();

  UinputOutput output;
  X11Session x11;
  // The pointer and the focused application: X11 until start-up picks the
  // session's own backend.
  SessionQueries queries{x11, x11};
  QtDesktopSession desktopSession;
  SyntheticEvents events;
  DesktopCommands desktop;
  ActionEngine engine;
};

}  // namespace velt
