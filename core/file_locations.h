// Where the agent finds its shipped data and keeps the user's files. Worked
// out once at start-up and handed to every part that touches a file.
#pragma once

#include <filesystem>
#include <string_view>

namespace velt {

inline constexpr std::string_view kApplicationId = "quorin.driver.velt";

struct FileLocations {
  std::filesystem::path resources;       // the shipped data folder
  std::filesystem::path settingsFolder;  // <Documents>/quorin.driver.velt
  std::filesystem::path configHome;      // $XDG_CONFIG_HOME
  std::filesystem::path runtimeDir;      // $XDG_RUNTIME_DIR

  std::filesystem::path defaultSettingsFile() const { return resources / "button.plist"; }
  std::filesystem::path modelFolder() const { return resources / "model"; }
  std::filesystem::path languageFile() const { return resources / "language.json"; }
};

}  // namespace velt
