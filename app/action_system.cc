#include "app/action_system.h"

namespace velt {

ActionSystem::ActionSystem(MainThread& mainThread, PointerModeState& modes, Clock& clock)
    : output(clock),
      x11(clock),
      desktopSession(x11),
      events(output, queries),
      desktop(desktopSession, mainThread),
      engine(events, desktop, queries, modes, mainThread) {}

void ActionSystem::start() {
  output.open();
}

void ActionSystem::stop() {
  events.releaseAllKeys();
  output.close();
}

void ActionSystem::suspend() {
  stop();
}

void ActionSystem::resume() {
  output.open();
}

}  // namespace velt
