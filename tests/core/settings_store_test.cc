#include "core/settings_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::CaptureLog;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string plistXml(const Entries& entries) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n";
  for (const auto& [k, v] : entries) xml += "<key>" + k + "</key>" + v + "\n";
  return xml + "</dict>\n</plist>\n";
}

std::string str(const std::string& v) {
  return "<string>" + v + "</string>";
}

// The "profiles" value: one dictionary per application, its keys as given.
std::string profilesXml(const std::vector<Entries>& list) {
  std::string xml = "<array>";
  for (const auto& entries : list) {
    xml += "<dict>";
    for (const auto& [k, v] : entries) xml += "<key>" + k + "</key>" + v;
    xml += "</dict>";
  }
  return xml + "</array>";
}

// A settings file of the settings fuzz target's corpus, among them those
// that once broke the store.
std::filesystem::path corpusFile(const char* name) {
  return std::filesystem::path(VELT_SOURCE_DIR) / "tests/fuzz/corpus/settings" / name;
}

struct ArmRecorder : ConfigurationScheduler {
  std::vector<int32_t> armed;
  void armConfigCountdown(int32_t ticks) override { armed.push_back(ticks); }
};

class SettingsStoreTest : public ::testing::Test {
 protected:
  TempDir home;
  std::filesystem::path folder = home / "Documents/quorin.driver.velt";
  std::filesystem::path file = folder / "button.plist";
  std::filesystem::path defaults = testing::sourceResources() / "button.plist";
  Settings settings;
  CaptureLog log;

  SettingsStore store() { return SettingsStore(settings, folder, defaults); }
  void writeSettings(const Entries& entries) { writeFile(file, plistXml(entries)); }
  // A file with enough entries to count: spotlightDim, type1 to type4 of 0,
  // then more.
  void writeCounted(const std::string& spotlight, Entries more = {}) {
    more.insert(more.begin(), {{"spotlightDim", str(spotlight)},
                               {"type1", str("0")},
                               {"type2", str("0")},
                               {"type3", str("0")},
                               {"type4", str("0")}});
    writeSettings(more);
  }
  // What the next start reads from the folder.
  std::unique_ptr<Settings> reread() {
    auto again = std::make_unique<Settings>();
    SettingsStore(*again, folder, defaults).loadSettings();
    return again;
  }
};

// The first run copies the shipped file, for the user alone whatever its
// mode; without one, saving writes a fresh file.
TEST_F(SettingsStoreTest, FirstRunCopiesTheDefaultFileOrWritesAFreshOne) {
  store().loadSettings();
  EXPECT_EQ(readFile(file), readFile(defaults));
  EXPECT_EQ(std::filesystem::status(file).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(settings.spotlightSize, 310);
  EXPECT_EQ(settings.interceptMask, 0);
  EXPECT_EQ(settings.hidButtonMask, 0);

  std::filesystem::remove_all(folder);
  Settings fresh;
  SettingsStore s(fresh, folder, home / "nowhere/button.plist");
  s.loadSettings();
  EXPECT_EQ(fresh.spotlightSize, 310);
  fresh.StandardButtonAssignments[1].code = 13;
  s.saveSettings();
  EXPECT_EQ(reread()->StandardButtonAssignments[1].code, 13);
  EXPECT_EQ(log.count("Error: Save set file"), 0u);
}

// A spotlight below the minimum, or none, is 320; a file of fewer than five
// entries counts as empty. The mask bits of extra buttons none is assigned
// to are cleared; other bits stay.
TEST_F(SettingsStoreTest, SpotlightSizeAndFilesTooShortToCount) {
  for (auto [stored, expected] : {std::pair{"150", 320}, {"200", 200}, {"900", 900}, {"x", 320}}) {
    writeCounted(stored);
    EXPECT_EQ(reread()->spotlightSize, expected) << "stored " << stored;
  }
  writeSettings({{"spotlightDim", str("250")},
                 {"type2", str("13")},
                 {"type3", str("14")},
                 {"type4", str("15")}});
  settings.interceptMask = 0x40;
  settings.hidButtonMask = 0x07;
  store().loadSettings();
  EXPECT_EQ(settings.spotlightSize, 310);
  EXPECT_EQ(settings.StandardButtonAssignments[2].code, 0);
  EXPECT_EQ(settings.interceptMask, 0x40);
  EXPECT_EQ(settings.hidButtonMask, 0x01);
}

// Loading clears every code, kept in the file or not, and only the codes.
TEST_F(SettingsStoreTest, ValuesAsStringsNumbersOrNonsense) {
  writeSettings({{"spotlightDim", "<integer>260</integer>"},
                 {"type1", str("13")},
                 {"type2", "<real>14.7</real>"},
                 {"type3", str("abc")},
                 {"type4", "<true/>"},
                 {"numType1", str("7")},
                 {"numType2", str("0")},
                 {"numType0_op1", str("  35xyz")},
                 {"numType0_op2", "<integer>-3</integer>"},
                 {"type4_op1", "<dict/>"}});
  settings.StandardButtonAssignments[7].store({3, 44, 0});
  store().loadSettings();
  EXPECT_EQ(settings.spotlightSize, 260);
  EXPECT_EQ(settings.StandardButtonAssignments[1].code, 13);
  EXPECT_EQ(settings.StandardButtonAssignments[2].code, 14);
  EXPECT_EQ(settings.StandardButtonAssignments[3].code, 0);
  EXPECT_EQ(settings.StandardButtonAssignments[4].code, 1);
  EXPECT_EQ(settings.StandardButtonAssignments[4].op1, 0);
  EXPECT_EQ(settings.ExtraButtonAssignments[0].op1, 35);
  EXPECT_EQ(settings.ExtraButtonAssignments[0].op2, -3);
  EXPECT_EQ(settings.StandardButtonAssignments[7].load(), (ButtonAssignmentValue{0, 44, 0}));
  // type1, type2 and type4 assigned; type3 is not.
  EXPECT_EQ(settings.interceptMask, 2 | 4 | 16);
  EXPECT_EQ(settings.hidButtonMask, 4);
}

TEST_F(SettingsStoreTest, ReadsBinaryPropertyLists) {
  // Every key a text but numType2, an integer.
  writeFile(file, readFile(corpusFile("binary-integer-value.plist")));
  store().loadSettings();
  EXPECT_EQ(settings.spotlightSize, 400);
  EXPECT_EQ(settings.ExtraButtonAssignments[2].code, 9);
  EXPECT_EQ(settings.hidButtonMask, 2);
}

TEST_F(SettingsStoreTest, SaveWritesTheKeysInOrderAndKeepsOtherKeys) {
  writeSettings({{"aForeignKey", str("keep me")},
                 {"type2", str("5")},
                 {"spotlightDim", str("310")},
                 {"type1", str("0")},
                 {"type3", str("0")},
                 {"zNested", "<dict><key>a</key><integer>1</integer></dict>"}});
  auto s = store();
  s.loadSettings();
  settings.StandardButtonAssignments[3].code = 27;
  settings.StandardButtonAssignments[3].op1 = 8;
  settings.StandardButtonAssignments[3].op2 = 12;
  settings.ExtraButtonAssignments[1].code = 19;
  settings.spotlightSize = 330;
  s.saveSettings();

  std::string xml = readFile(file);
  EXPECT_NE(xml.find("<key>aForeignKey</key>\n\t<string>keep me</string>"), std::string::npos);
  EXPECT_NE(xml.find("<key>zNested</key>"), std::string::npos);
  // Keys already present keep their place; the new ones follow in key order.
  size_t last = 0;
  for (auto key :
       {"type4", "numType0", "numType1", "numType2", "type1_op1", "type2_op1", "type3_op1",
        "type4_op1", "numType0_op1", "numType1_op1", "numType2_op1", "type1_op2", "type2_op2",
        "type3_op2", "type4_op2", "numType0_op2", "numType1_op2", "numType2_op2"}) {
    size_t at = xml.find(std::string("<key>") + key + "</key>");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }

  auto again = reread();
  EXPECT_EQ(again->spotlightSize, 330);
  EXPECT_EQ(again->StandardButtonAssignments[2].code, 5);
  EXPECT_EQ(again->StandardButtonAssignments[3].load(), (ButtonAssignmentValue{27, 8, 12}));
  EXPECT_EQ(again->ExtraButtonAssignments[1].code, 19);
}

// The damaged files the store has kept aside.
std::vector<std::string> keptAside(const std::filesystem::path& folder) {
  std::vector<std::string> kept;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().filename().string().starts_with("button.plist.damaged-")) {
      kept.push_back(readFile(e.path()));
    }
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

TEST_F(SettingsStoreTest, DamagedFilesAndFilesThatWouldExpandPastTheLimitsAreEachKeptAside) {
  // 16 levels of shared references: libplist would copy out 5.5 MB, which
  // the next start refused; 26 levels took gigabytes to load. An XML file
  // nested 20,000 deep: its indentation alone would have made the saved
  // file 400 MB.
  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "<array>";
  for (int i = 0; i < 20000; ++i) deep += "</array>";
  auto withProfiles = [](const std::vector<Entries>& list) {
    return plistXml({{"profiles", profilesXml(list)}});
  };
  struct Case {
    const char* name;
    std::string bytes, logged;
  };
  const Case cases[] = {
      {"nonsense", "this is not a property list", "Error: Read set file: " + file.string()},
      {"refs-16", readFile(corpusFile("bplist-shared-refs-16.plist")), " more than "},
      {"refs-26", readFile(corpusFile("bplist-shared-refs-26.plist")), " more than "},
      {"deep", plistXml({{"type1", str("13")}, {"deep", deep}}), " more than "},
      {"too many profiles", withProfiles(std::vector(65, Entries{{"application", str("a")}})),
       "65 profiles, at most 64"},
      {"no application id", withProfiles({{{"application", str("../x")}}}), "no application id"},
      {"twice", withProfiles({{{"application", str("a")}}, {{"application", str("a")}}}),
       "two profiles of a"},
      {"not a list", plistXml({{"profiles", str("a")}}), "profiles is not a list"},
  };
  std::vector<std::string> damaged;
  int32_t saved = 0;  // what the last save wrote, which the backup holds
  for (const auto& [name, bytes, logged] : cases) {
    SCOPED_TRACE(name);
    writeFile(file, bytes);
    Settings fresh;
    SettingsStore s(fresh, folder, defaults);
    const size_t linesBefore = log.count(logged);
    s.loadSettings();
    EXPECT_EQ(log.count(logged), linesBefore + 1);
    EXPECT_EQ(fresh.spotlightSize, 310);
    EXPECT_EQ(fresh.StandardButtonAssignments[1].code, saved);
    fresh.StandardButtonAssignments[1].code = ++saved;
    s.saveSettings();
    // Every damaged file is still there, each under a name of its own.
    damaged.push_back(bytes);
    std::sort(damaged.begin(), damaged.end());
    EXPECT_EQ(keptAside(folder), damaged);
    EXPECT_LT(std::filesystem::file_size(file), 4096u);
    EXPECT_EQ(reread()->StandardButtonAssignments[1].code, saved);
  }
}

// A file-sync client leaves an empty file while it fetches the real one;
// permissions and I/O errors keep a file from being read too. Such a file
// may hold the user's settings: it is never written over, and the backup of
// the last file that loaded stands in for it.
TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsNeverWrittenOver) {
  writeCounted("400", {{"numType1", str("7")}});
  store().loadSettings();
  writeFile(file, "");
  auto s = store();
  s.loadSettings();
  EXPECT_EQ(log.count("Error: Read set file: " + file.string() + ": empty file"), 1u);
  EXPECT_EQ(settings.spotlightSize, 400);
  EXPECT_EQ(settings.ExtraButtonAssignments[1].code, 7);
  settings.StandardButtonAssignments[2].code = 13;
  s.saveSettings();
  EXPECT_EQ(readFile(file), "");
  EXPECT_EQ(log.count("not written over"), 1u);
  EXPECT_TRUE(keptAside(folder).empty());
  // Once it has arrived, the change goes in beside what it holds.
  writeCounted("420", {{"aForeignKey", str("keep me")}});
  s.saveSettings();
  EXPECT_EQ(reread()->StandardButtonAssignments[2].code, 13);
  EXPECT_NE(readFile(file).find("keep me"), std::string::npos);
}

TEST_F(SettingsStoreTest, ARepeatedKeyCountsOnceAndTheSavedChoiceComesBack) {
  writeFile(file, readFile(corpusFile("bplist-duplicate-key.plist")));
  auto s = store();
  s.loadSettings();
  settings.StandardButtonAssignments[1].code = 13;
  s.saveSettings();
  const std::string xml = readFile(file);
  EXPECT_EQ(xml.find("<key>type1</key>"), xml.rfind("<key>type1</key>"));
  EXPECT_EQ(reread()->StandardButtonAssignments[1].code, 13);
}

TEST_F(SettingsStoreTest, FailedWritesKeepTheOldFileAndLeaveNoTemporary) {
  auto s = store();
  s.loadSettings();
  const std::string before = readFile(file);
  auto filesInFolder = [&] {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(folder)) {
      n += e.is_regular_file() && e.path() != s.backupFile();
    }
    return n;
  };
  settings.StandardButtonAssignments[2].code = 13;
  const bool readOnlyFolderCounts = geteuid() != 0;  // root writes into read-only folders
  if (readOnlyFolderCounts) {
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    s.saveSettings();
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(log.count("Error: Save set file: " + file.string()), 1u);
    EXPECT_EQ(filesInFolder(), 1u);
  }

  // A directory where the file should be makes the final rename fail, even
  // for root.
  std::filesystem::remove(file);
  std::filesystem::create_directories(file / "occupied");
  s.saveSettings();
  EXPECT_TRUE(std::filesystem::is_directory(file / "occupied"));
  EXPECT_EQ(log.count("Error: Save set file: " + file.string()), readOnlyFolderCounts ? 2u : 1u);
  EXPECT_EQ(filesInFolder(), 0u);
}

// A slot a profile leaves out follows the general table, "0" is Default;
// the mice are sent every button some table diverts; other keys stay.
TEST_F(SettingsStoreTest, ProfilesLoadSaveAndDivertEveryButtonAnyOfThemUses) {
  writeCounted("310", {{"type3", str("13")},
                       {"mine", str("kept")},
                       {"profiles", profilesXml({{{"application", str("org.gnome.TextEditor")},
                                                  {"type3", str("14")},
                                                  {"type2", str("0")}},
                                                 {{"application", str("firefox-esr")},
                                                  {"numType1", str("27")},
                                                  {"numType1_op1", str("40")},
                                                  {"numType1_op2", str("4")}}})}});
  Profiles profiles;
  SettingsStore s = store();
  s.setProfiles(&profiles);
  s.loadSettings();
  ApplicationProfile editor{"org.gnome.TextEditor"}, browser{"firefox-esr"};
  editor.assignments[1] = ButtonAssignmentValue{0, 0, 0};
  editor.assignments[2] = ButtonAssignmentValue{14, 0, 0};
  browser.assignments[5] = ButtonAssignmentValue{27, 40, 4};
  EXPECT_EQ(profiles.list(), (ProfileList{editor, browser}));
  EXPECT_EQ(settings.interceptMask, 0x08);
  EXPECT_EQ(settings.hidButtonMask, 0x04);

  // The browser's other slots follow the general table, also after it changes.
  profiles.setFocusedApplication("firefox-esr");
  settings.StandardButtonAssignments[3].store({15, 0, 0});
  EXPECT_EQ(effectiveAssignment(settings, profiles.active().get(), 2).code, 15);
  EXPECT_EQ(effectiveAssignment(settings, profiles.active().get(), 5).op1, 40);
  profiles.setFocusedApplication("org.gnome.Terminal");
  EXPECT_EQ(profiles.active(), nullptr);

  s.saveSettings();
  Settings reread;
  Profiles again;
  SettingsStore r(reread, folder, defaults);
  r.setProfiles(&again);
  r.loadSettings();
  EXPECT_EQ(again.list(), profiles.list());
  EXPECT_NE(readFile(file).find("<string>kept</string>"), std::string::npos);
  // Without profiles the file holds none, as before there were any.
  again.setList({});
  r.saveSettings();
  EXPECT_EQ(readFile(file).find("profiles"), std::string::npos);
}

// A commit diverts what the table and the profiles need, saves and asks for
// one configuration pass; a profile list that may not be kept changes nothing.
TEST_F(SettingsStoreTest, CommitsDivertSaveAndConfigureOnce) {
  Profiles profiles;
  ArmRecorder scheduler;
  SettingsStore s = store();
  s.setProfiles(&profiles);
  s.setConfigurationScheduler(&scheduler);
  s.loadSettings();
  settings.StandardButtonAssignments[3].code = 14;
  s.commitAssignments(8);
  EXPECT_EQ(settings.interceptMask, 8);
  EXPECT_EQ(scheduler.armed, std::vector<int32_t>{1});
  EXPECT_NE(readFile(file).find("<key>type3</key>\n\t<string>14</string>"), std::string::npos);

  ApplicationProfile viewer{"org.gnome.Loupe"};
  viewer.assignments[0] = ButtonAssignmentValue{13, 0, 0};
  viewer.assignments[6] = ButtonAssignmentValue{14, 0, 0};
  EXPECT_EQ(s.commitProfiles({viewer}), "");
  EXPECT_EQ(settings.interceptMask, 8 | 2);
  EXPECT_EQ(settings.hidButtonMask & 0x02, 0x02);
  EXPECT_EQ(scheduler.armed.size(), 2u);
  EXPECT_NE(readFile(file).find("org.gnome.Loupe"), std::string::npos);

  EXPECT_NE(s.commitProfiles({viewer, viewer}), "");
  EXPECT_EQ(profiles.list(), ProfileList{viewer});
  EXPECT_EQ(scheduler.armed.size(), 2u);

  // Without the profile its extra button is the mice's own again.
  EXPECT_EQ(s.commitProfiles({}), "");
  EXPECT_EQ(settings.hidButtonMask & 0x02, 0);
}

}  // namespace
}  // namespace velt
