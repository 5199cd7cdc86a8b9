// Moves and clicks KWin's pointer the way a device would, through KWin's
// fake-input protocol (the rig's KWin runs with its permission checks for
// Wayland interfaces off), for the desktop tests.
#pragma once

namespace velt {

// Reads commands from standard input until its end, each answered on
// standard output once KWin has taken it ("ok", or "error: ..."):
//   move X Y   the pointer to X, Y
//   click      a left click where it is
// KWin's fake pointer lives as long as the connection, so it stays for the
// whole session: a click made just before a disconnect would be lost.
int kwinInput();

}  // namespace velt
