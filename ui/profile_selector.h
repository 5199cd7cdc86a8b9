// What the profile selector above the slots lists, what a profile's slot
// pop-ups offer, and which installed applications can be added.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/desktop_entries.h"
#include "core/profiles.h"
#include "ui/interface_texts.h"
#include "ui/slot_menus.h"

namespace velt {

struct SelectorEntry {
  enum class Kind { AllApplications, Profile, AddApplication };
  Kind kind = Kind::AllApplications;
  std::string application;  // the profile's desktop entry id
  std::string title;
  std::string icon;  // a theme icon name or an absolute path; may be empty
  bool operator==(const SelectorEntry&) const = default;
};

// "All applications", then the profiles in the list's order, each named as
// its desktop entry names it (by its id when it has no entry), then "Add
// application…".
std::vector<SelectorEntry> selectorEntries(const ProfileList& list, const DesktopEntries& entries,
                                           const UiStrings& strings);

// The tag of "As for all applications" in a profile's slot pop-up.
inline constexpr int32_t kFunctionAsForAllApplications = -1;

// A profile's slot menu: "As for all applications", a separator, then what
// the general table's slot offers.
SlotMenu profileSlotMenu(const SlotMenu& general, const UiStrings& strings);

// The profile's slot behind window slot index 0 to 5 (the same buttons as
// slotAssignment); nullopt: as for all applications.
std::optional<ButtonAssignmentValue>& profileSlot(ApplicationProfile& profile, int slotIndex);
const std::optional<ButtonAssignmentValue>& profileSlot(const ApplicationProfile& profile,
                                                        int slotIndex);

// One of the applications "Add application…" offers.
struct AddChoice {
  std::string application;  // its desktop entry id
  std::string title;
  std::string icon;
  bool open = false;  // it has windows open now
  bool operator==(const AddChoice&) const = default;
};

// The applications without a profile yet whose name or id holds filter
// (ignoring ASCII case): first those with windows open (open, by desktop
// entry id, in that order; named by their entries where they have one, a
// hidden one included), then the other listed installed ones, by name.
std::vector<AddChoice> addChoices(const DesktopEntries& entries, const ProfileList& list,
                                  const std::vector<std::string>& open, std::string_view filter);

}  // namespace velt
