// button.plist: the user's choices between runs. Reads XML and binary property
// lists whose values are decimal strings or numbers; writes XML atomically and
// keeps every key it does not own.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/configuration_scheduler.h"
#include "core/profiles.h"
#include "core/settings.h"

namespace velt {

// The 22 keys, in the order they are written.
extern const std::array<std::string_view, 22> kSettingsKeys;
// The per-application profiles: a list of dictionaries, each with the
// application's desktop entry id and the slot keys it sets (those of the 22
// keys but "spotlightDim"); a slot key left out follows the general table.
// A file without it loads as before profiles existed.
inline constexpr std::string_view kProfilesKey = "profiles";
inline constexpr std::string_view kProfileApplicationKey = "application";

inline constexpr std::string_view kSettingsFileName = "button.plist";

class SettingsStore {
 public:
  // folder: the per-user settings folder (created when missing).
  // defaultFile: the shipped button.plist copied there on first run.
  SettingsStore(Settings& settings, std::filesystem::path folder,
                std::filesystem::path defaultFile);

  void setConfigurationScheduler(ConfigurationScheduler* scheduler) { scheduler_ = scheduler; }
  // Where the profiles are loaded to and saved from; without it the file's
  // profiles are left as they are.
  void setProfiles(Profiles* profiles) { profiles_ = profiles; }

  // Reads the file into the assignment tables, masks, profiles and spotlight size,
  // copying the default file first when the user has none. A file that
  // loads is copied to the backup (button.plist.backup); when the file
  // cannot be read or is damaged (profiles beyond the bounds included), the
  // backup's settings are taken instead.
  // Main thread, once.
  void loadSettings();

  // Writes the 22 keys with the current values. When the file has gone
  // missing or is damaged, a fresh file is written from the current values
  // (a damaged one is kept beside it first, under a name with the time). A
  // file that cannot be read is never written over. Main thread.
  void saveSettings();

  // Takes mask, with the buttons the profiles divert besides (unionMasks), as
  // the new interceptMask, saves, and has the configuration pass send the
  // masks to the mice at the next tick. Main thread.
  void commitAssignments(uint8_t mask);
  // Replaces the profiles with list, saves, and has one configuration pass
  // send the masks that the general table and list need. Why list was
  // refused (profileListFault), or empty. Main thread.
  std::string commitProfiles(ProfileList list);

  const std::filesystem::path& filePath() const { return file_; }
  std::filesystem::path backupFile() const { return file_.string() + ".backup"; }

 private:
  Settings& settings_;
  std::filesystem::path folder_;
  std::filesystem::path file_;
  std::filesystem::path defaultFile_;
  ConfigurationScheduler* scheduler_ = nullptr;
  Profiles* profiles_ = nullptr;
};

}  // namespace velt
