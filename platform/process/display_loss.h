// Qt ends the process on its own when the connection to the display breaks
// (the X server or the compositor has gone: a log-out, a crash): exit(1) on
// X11, and on Wayland at once, without the agent's way out. It says so first
// through its message handler, and that is where this watch hears it, so
// that the agent can take its own way out instead. It also hears Qt give up
// at start-up for want of any display.
#pragma once

#include <functional>
#include <string>

namespace velt {

struct DisplayLossHandlers {
  // The connection broke; what: which, in Qt's words. Runs on each thread
  // that notices, as it does; Qt ends the process when it returns.
  std::function<void(const std::string& what)> lost;
  // No display could be opened at start-up; the same.
  std::function<void(const std::string& what)> none;
};

// Installs the watch before the QApplication is made; Qt's messages are
// still printed as before. Once per process.
void watchForDisplayLoss(DisplayLossHandlers handlers);

// Which of Qt's messages tell of a lost display (1), of no display at all
// (2), or of neither (0).
int displayLossKind(const std::string& message, bool fatal);

}  // namespace velt
