// Per-application button profiles. While an application that has a profile
// is in focus, the slots its profile sets take the place of the general
// table's; the slots it leaves unset follow the general table, also when
// that table changes later. Applications are named by their desktop entry
// id ("org.gnome.TextEditor", "firefox-esr"), the same on every desktop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/button_function.h"
#include "core/settings.h"

namespace velt {

// The seven persisted slots, in the order of the settings keys: standard
// buttons 1 to 4, then extra buttons 0 to 2.
inline constexpr size_t kProfileSlots = 7;
// Bounds of what the settings file may hold; a file beyond them is refused.
inline constexpr size_t kMaxProfiles = 64;
inline constexpr size_t kMaxApplicationIdBytes = 255;

// A desktop entry id without ".desktop": 1 to 255 bytes of letters, digits
// and "._-+", not starting with '.' or '-'.
bool isApplicationId(std::string_view id);

struct ApplicationProfile {
  std::string application;  // its desktop entry id
  // nullopt: as for all applications.
  std::array<std::optional<ButtonAssignmentValue>, kProfileSlots> assignments{};
  bool operator==(const ApplicationProfile&) const = default;
};

using ProfileList = std::vector<ApplicationProfile>;

// Why list may not be kept (too many, an id that is none, one twice), or
// empty when it may.
std::string profileListFault(const ProfileList& list);

// The slot's assignment in the general table (standard 1 to 4, extra 0 to 2).
ButtonAssignment& generalSlot(Settings& settings, size_t slot);
const ButtonAssignment& generalSlot(const Settings& settings, size_t slot);

// What slot does while profile (nullptr: none) is in use.
ButtonAssignmentValue effectiveAssignment(const Settings& settings,
                                          const ApplicationProfile* profile, size_t slot);

// The masks the mice are sent: a button is taken over when the general table
// or any profile gives it a function, so that a change of focus never needs
// a configuration pass. Bits as in Settings::interceptMask (standard button n
// is bit n) and Settings::hidButtonMask (4: extra button 1, 2: extra button 2).
struct ButtonMasks {
  uint8_t intercept = 0;
  uint8_t hid = 0;
  bool operator==(const ButtonMasks&) const = default;
};
ButtonMasks unionMasks(const Settings& settings, const ProfileList& list);

// The profiles and the application in focus; one instance per process. The
// window replaces the list on the main thread, the desktop's focus watcher
// names the application on its own thread, and the dispatcher asks for the
// active profile at each press. Any thread.
class Profiles {
 public:
  void setList(ProfileList list);
  ProfileList list() const;
  // The application in focus by its desktop entry id; empty when unknown.
  void setFocusedApplication(std::string id);
  std::string focusedApplication() const;
  // The profile of the application in focus; nullptr: all applications.
  std::shared_ptr<const ApplicationProfile> active() const;

 private:
  void chooseActiveLocked();

  mutable std::mutex mutex_;
  ProfileList list_;                                  // guarded by mutex_
  std::string focused_;                               // guarded by mutex_
  std::shared_ptr<const ApplicationProfile> active_;  // guarded by mutex_
};

// The assignments of the profile in use, for the dispatcher: a slot set to
// "Default" while the mice divert its standard button for another profile
// gives kFunctionStandardButton, so the button keeps its own function.
class ProfileAssignments : public ButtonAssignmentSource {
 public:
  ProfileAssignments(const Settings& settings, const Profiles& profiles)
      : settings_(settings), profiles_(profiles) {}
  ButtonAssignmentValue standardButton(size_t n) const override;
  ButtonAssignmentValue extraButton(size_t i) const override;

 private:
  const Settings& settings_;
  const Profiles& profiles_;
};

}  // namespace velt
