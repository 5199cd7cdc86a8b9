// Starting at log-in through an XDG autostart entry, and removing the agent.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "core/user_service_manager.h"

namespace velt {

// The entry template among the resources, and the entry written from it into
// $XDG_CONFIG_HOME/autostart.
inline constexpr std::string_view kAutostartTemplate = "quorin.driver.agent.desktop";
inline constexpr std::string_view kAutostartEntry = "quorin.driver.velt.desktop";
inline constexpr std::string_view kExecutableName = "velt-mouse-assistant";

// Whether the running executable is the installed one: its folder is the
// installed binary folder, links resolved on both sides.
bool runsFromInstalledLocation(const std::filesystem::path& executable,
                               const std::filesystem::path& installedBinDir);

// Whether an autostart entry's text starts this application: its Name is the
// product name or its Exec runs the agent's executable.
bool autostartEntryCarriesOurName(std::string_view desktopEntry);

// Deletes the autostart entries in folder that start this application,
// except the one named keep (pass "" to delete them all). Failures are
// ignored.
void removeAutoRun(const std::filesystem::path& folder, std::string_view keep);

// Copies the template to folder/kAutostartEntry, creating folder. An entry
// that is already there is left exactly as it is: the user may have changed
// or disabled it. Logs the source and the destination either way.
void setAutoRun(const std::filesystem::path& templateFile, const std::filesystem::path& folder);

inline constexpr std::string_view kUserUnit = "velt-mouse-assistant.service";
// Where the package installs the unit under prefix.
std::filesystem::path userUnitFile(const std::filesystem::path& prefix);

// Whether an autostart entry's text is turned off (Hidden, or GNOME's
// X-GNOME-Autostart-enabled=false): the user's way of keeping the agent from
// starting at log-in.
bool autostartEntryTurnedOff(std::string_view desktopEntry);

// Starting at log-in, as each start sets it up. Where the agent's user unit
// (unitFile) is installed and the user's service manager runs the session,
// the unit is enabled and the agent's autostart entries go, so that it is
// started once, and again after an abnormal end. Elsewhere, or where the
// user turned the entry off, the autostart entry as removeAutoRun and
// setAutoRun leave it.
void setUpAutoRun(const std::filesystem::path& templateFile,
                  const std::filesystem::path& autostartFolder,
                  const std::filesystem::path& unitFile, UserServiceManager& manager);

// The files an installation under prefix consists of, as the package lays
// them out.
std::vector<std::filesystem::path> installedFiles(const std::filesystem::path& prefix);

// Removes them where the user may; anything that cannot be removed stays and
// is not reported.
void removeInstalledFiles(const std::vector<std::filesystem::path>& files);

}  // namespace velt
