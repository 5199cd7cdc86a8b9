// Whether a compositing manager runs on the display, so that windows can be
// see-through.
#pragma once

namespace velt {

// True when the X display's compositing-manager selection has an owner, and
// on platforms that always composite (Wayland). Main thread.
bool compositingManagerRunning();

}  // namespace velt
