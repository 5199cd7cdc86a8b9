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

std::vector<AddChoice> addChoices(const DesktopEntries& entries, const ProfileList& list,
                                  const std::vector<std::string>& open, std::string_view filter) {
  const std::string needle = lowered(filter);
  std::vector<AddChoice> out;
  auto offer = [&](const std::string& id, const DesktopEntry* entry, bool isOpen) {
    const std::string name = entry && !entry->name.empty() ? entry->name : id;
    if (!needle.empty() && lowered(name).find(needle) == std::string::npos &&
        lowered(id).find(needle) == std::string::npos) {
      return;
    }
    bool taken = std::any_of(list.begin(), list.end(),
                             [&id](const ApplicationProfile& p) { return p.application == id; }) ||
                 std::any_of(out.begin(), out.end(),
                             [&id](const AddChoice& c) { return c.application == id; });
    if (!taken) out.push_back({id, name, entry ? entry->icon : std::string(), isOpen});
  };
  for (const std::string& id : open) offer(id, entries.find(id), true);
  const size_t firstInstalled = out.size();
  for (const DesktopEntry& entry : entries.entries) {
    if (entry.listed) offer(entry.id, &entry, false);
  }
  std::stable_sort(
      out.begin() + static_cast<std::ptrdiff_t>(firstInstalled), out.end(),
      [](const AddChoice& a, const AddChoice& b) { return lowered(a.title) < lowered(b.title); });
  return out;
}

}  // namespace velt
