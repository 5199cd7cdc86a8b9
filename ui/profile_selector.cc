#include "ui/profile_selector.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace velt {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::vector<SelectorEntry> selectorEntries(const ProfileList& list, const DesktopEntries& entries,
                                           const UiStrings& strings) {
  std::vector<SelectorEntry> out;
  out.push_back({SelectorEntry::Kind::AllApplications, "", strings.text("all applications"), ""});
  for (const ApplicationProfile& profile : list) {
    SelectorEntry entry{SelectorEntry::Kind::Profile, profile.application, profile.application, ""};
    if (const DesktopEntry* desktop = entries.find(profile.application)) {
      if (!desktop->name.empty()) entry.title = desktop->name;
      entry.icon = desktop->icon;
    }
    out.push_back(std::move(entry));
  }
  out.push_back({SelectorEntry::Kind::AddApplication, "", strings.text("add application"), ""});
  return out;
}

SlotMenu profileSlotMenu(const SlotMenu& general, const UiStrings& strings) {
  SlotMenu menu{{false, kFunctionAsForAllApplications, strings.text("as for all applications")},
                {true, kFunctionSeparator, ""}};
  menu.insert(menu.end(), general.begin(), general.end());
  return menu;
}

const std::optional<ButtonAssignmentValue>& profileSlot(const ApplicationProfile& profile,
                                                        int slotIndex) {
  // Window slots are standard buttons 2 to 4 and extra buttons 0 to 2: the
  // profile's slots 1 to 6.
  return profile.assignments[static_cast<size_t>(slotIndex) + 1];
}

std::optional<ButtonAssignmentValue>& profileSlot(ApplicationProfile& profile, int slotIndex) {
  return profile.assignments[static_cast<size_t>(slotIndex) + 1];
}

std::vector<const DesktopEntry*> addableApplications(const DesktopEntries& entries,
                                                     const ProfileList& list,
                                                     std::string_view filter) {
  std::string needle = lowered(filter);
  std::vector<const DesktopEntry*> out;
  for (const DesktopEntry& entry : entries.entries) {
    if (!entry.listed) continue;
    bool hasProfile = std::any_of(list.begin(), list.end(), [&entry](const ApplicationProfile& p) {
      return p.application == entry.id;
    });
    if (hasProfile) continue;
    if (!needle.empty() && lowered(entry.name).find(needle) == std::string::npos &&
        lowered(entry.id).find(needle) == std::string::npos) {
      continue;
    }
    out.push_back(&entry);
  }
  std::stable_sort(out.begin(), out.end(), [](const DesktopEntry* a, const DesktopEntry* b) {
    return lowered(a->name.empty() ? a->id : a->name) < lowered(b->name.empty() ? b->id : b->name);
  });
  return out;
}

}  // namespace velt
