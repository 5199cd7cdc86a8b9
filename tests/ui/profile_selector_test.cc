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

TEST(ProfileSelectorTest, AddOffersOpenThenInstalledWithoutAProfileFilteredByNameOrId) {
  DesktopEntries apps = installed();
  ProfileList list = {{"firefox-esr", {}}};
  auto ids = [](const std::vector<AddChoice>& found) {
    std::vector<std::string> out;
    for (const AddChoice& c : found) out.push_back(c.application + (c.open ? " (open)" : ""));
    return out;
  };
  // Nameless Evince sorts by its id, after "org.gnome.E" < "Text Editor".
  EXPECT_EQ(ids(addChoices(apps, list, {}, "")),
            (std::vector<std::string>{"org.gnome.Evince", "org.gnome.TextEditor"}));
  EXPECT_EQ(ids(addChoices(apps, list, {}, "EDIT")),
            (std::vector<std::string>{"org.gnome.TextEditor"}));
  EXPECT_EQ(ids(addChoices(apps, list, {}, "gnome.ev")),
            (std::vector<std::string>{"org.gnome.Evince"}));
  EXPECT_TRUE(addChoices(apps, list, {}, "fire").empty());
  EXPECT_TRUE(addChoices(apps, {}, {}, "daemon").empty());

  // Open first, in the desktop's order, each once: a hidden entry by its
  // name, one without an entry by its id; one with a profile not at all.
  std::vector<std::string> open = {"xterm", "org.gnome.TextEditor", "firefox-esr",
                                   "gnome-settings-daemon", "xterm"};
  auto choices = addChoices(apps, list, open, "");
  EXPECT_EQ(ids(choices),
            (std::vector<std::string>{"xterm (open)", "org.gnome.TextEditor (open)",
                                      "gnome-settings-daemon (open)", "org.gnome.Evince"}));
  EXPECT_EQ(choices[0], (AddChoice{"xterm", "xterm", "", true}));
  EXPECT_EQ(choices[1],
            (AddChoice{"org.gnome.TextEditor", "Text Editor", "/usr/share/te.png", true}));
  EXPECT_EQ(ids(addChoices(apps, list, open, "daemon")),
            (std::vector<std::string>{"gnome-settings-daemon (open)"}));
}

}  // namespace
}  // namespace velt
