// velt-mouse-assistant --restore-mice: gives every supported mouse all its
// buttons back, as the agent does when it quits, for mice that an agent which
// ended abnormally (SIGKILL, the out-of-memory killer) left handing buttons
// to nobody. It identifies the mice as the agent does, so each gets the same
// pass; it needs no display and starts no agent.
#pragma once

#include <ostream>

#include "core/file_locations.h"

namespace velt {

// With no agent running for this user: restores every supported mouse it
// can open, says on out how many, and returns 0. With an agent running: says
// so on err, touches nothing and returns 2. 1 when the HID system cannot be
// read at all.
int restoreMice(const FileLocations& locations, std::ostream& out, std::ostream& err);

}  // namespace velt
