#pragma once

#include "core/file_locations.h"

namespace velt {

// The shipped data sits in ../share/velt-mouse-assistant beside the
// executable's folder, in the build tree as in the installed tree. The
// settings folder is the application id inside the user's documents folder
// (XDG user dirs).
FileLocations findFileLocations();

}  // namespace velt
