// What the login manager tells the agent about the machine and about the
// agent's own session: waking from sleep, and the session taking or leaving
// the seat when people switch users.
#pragma once

namespace velt {

class SessionEvents {
 public:
  virtual ~SessionEvents() = default;
  // The machine has woken from sleep; a mouse's receiver may have been reset
  // and forgotten what it was told. Main thread.
  virtual void resumed() = 0;
  // The agent's session is now the one at the screen (true), or another
  // session has the seat (false). Called on changes only. Main thread.
  virtual void sessionActiveChanged(bool active) = 0;
};

}  // namespace velt
