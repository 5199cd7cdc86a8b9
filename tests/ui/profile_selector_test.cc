#include "ui/profile_selector.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

// By id, as readDesktopEntries gives them.
DesktopEntries installed() {
  DesktopEntries apps;
  apps.entries = {{"firefox-esr", "Firefox ESR", "firefox-esr", "", true},
                  {"gnome-settings-daemon", "Settings Daemon", "", "", false},
                  {"org.gnome.Evince", "", "", "", true},
                  {"org.gnome.TextEditor", "Text Editor", "/usr/share/te.png", "", true}};
  return apps;
}

TEST(ProfileSelectorTest, ListsAllApplicationsThenProfilesByEntryThenAdd) {
  ProfileList list = {{"org.gnome.TextEditor", {}}, {"vanished.App", {}}, {"firefox-esr", {}}};
  auto entries = selectorEntries(list, installed(), builtInEnglishStrings());
  using K = SelectorEntry::Kind;
  std::vector<SelectorEntry> expected = {
      {K::AllApplications, "", "All applications", ""},
      {K::Profile, "org.gnome.TextEditor", "Text Editor", "/usr/share/te.png"},
      {K::Profile, "vanished.App", "vanished.App", ""},  // no entry: its id
      {K::Profile, "firefox-esr", "Firefox ESR", "firefox-esr"},
      {K::AddApplication, "", "Add application…", ""}};
  EXPECT_EQ(entries, expected);
}

TEST(ProfileSelectorTest, AddableAreListedWithoutAProfileFilteredByNameOrIdSortedByName) {
  DesktopEntries apps = installed();
  ProfileList list = {{"firefox-esr", {}}};
  auto ids = [](const std::vector<const DesktopEntry*>& found) {
    std::vector<std::string> out;
    for (const DesktopEntry* e : found) out.push_back(e->id);
    return out;
  };
  // Nameless Evince sorts by its id, after "org.gnome.E" < "Text Editor".
  EXPECT_EQ(ids(addableApplications(apps, list, "")),
            (std::vector<std::string>{"org.gnome.Evince", "org.gnome.TextEditor"}));
  EXPECT_EQ(ids(addableApplications(apps, list, "EDIT")),
            (std::vector<std::string>{"org.gnome.TextEditor"}));
  EXPECT_EQ(ids(addableApplications(apps, list, "gnome.ev")),
            (std::vector<std::string>{"org.gnome.Evince"}));
  EXPECT_TRUE(addableApplications(apps, list, "fire").empty());
  EXPECT_TRUE(addableApplications(apps, {}, "daemon").empty());
}

}  // namespace
}  // namespace velt
