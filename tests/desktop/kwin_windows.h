// KWin's windows as KWin itself lists them, for the desktop tests: a script
// loaded into KWin sends each window back over the session bus.
#pragma once

namespace velt {

// Prints a line per window, "CLASS TYPE active" or "CLASS TYPE -", where
// TYPE is KWin's window type number (1 a desktop, 2 a panel, 18 an applet's
// popup such as Plasma's launcher). Exit status 1 when KWin does not answer
// within five seconds.
int kwinWindows();

}  // namespace velt
