#pragma once

#include <string>

#include "core/file_locations.h"

namespace velt {

// The shipped data sits in ../share/velt-mouse-assistant beside the
// executable's folder, in the build tree as in the installed tree. The
// settings folder is the application id inside the user's documents folder
// (XDG user dirs). The home folder is $HOME, or the user's entry in the
// password database when HOME is unset. The runtime folder is
// $XDG_RUNTIME_DIR when that is the user's own (see privateFolderProblem),
// else velt-mouse-assistant-<uid> in the temporary folder.
FileLocations findFileLocations();

// Why folder cannot hold the user's lock and socket: not a directory (a
// symbolic link counts as none), not the user's own, or writable by others.
// Empty when it can. With create, a missing folder is made with mode 0700.
std::string privateFolderProblem(const std::filesystem::path& folder, bool create);

}  // namespace velt
