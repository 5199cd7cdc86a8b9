// What `--status` reports: the mice the agent has found, the one the window
// shows, the focused window's class as the agent sees it, the application
// in focus as the desktop named it, the profile in use, and the applications
// with windows open (those a profile can be added for). The agent
// answers with one line ("status" and a JSON object), which the command line
// turns into lines of "name: value" for people and scripts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/profiles.h"
#include "device/device_directory.h"

namespace velt {

// Main thread of the agent: the answer line to "status".
std::string statusAnswer(DeviceDirectory& devices, ActiveWindowQuery& windows,
                         const Profiles& profiles, const std::vector<std::string>& open);

// The command line: the lines to print for the JSON after "status ";
// nullopt when it is not such an object.
std::optional<std::string> statusText(std::string_view json);

}  // namespace velt
