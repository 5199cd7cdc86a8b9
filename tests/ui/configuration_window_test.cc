#include "ui/configuration_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include "actions/keyboard_struct.h"
#include "core/plist_file.h"
#include "testing/fixed_device_directory.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"
#include "ui_configuration_window.h"

namespace velt {
namespace {

class ConfigurationWindowTest : public ::testing::Test {
 protected:
  ConfigurationWindowTest()
      : store(settings, dir / "settings", testing::sourceResources() / "button.plist"),
        window(state, settings, store, devices) {
    QImage picture(500, 500, QImage::Format_ARGB32);
    picture.fill(Qt::lightGray);
    picture.save(QString::fromStdString((dir / "mouse.png").string()));
  }

  // Start-up as the delegate runs it, after the settings were loaded.
  void startUp() {
    window.fillSlotTables();
    store.loadSettings();
    state.functionNames = buildFunctionNames(kLanguageEnglish);
    window.applyTexts();
    window.initSetKeyboardPanel(englishKeyNames());
    window.buildSlotMenus();
    window.setBadgeAnimationMs(0);
  }

  DeviceRecord mouse(const char* name, int32_t buttonMask) {
    DeviceRecord r;
    r.type = 1;
    r.name = name;
    r.imagePath = (dir / "mouse.png").string();
    r.buttonMask = buttonMask;
    for (int i = 0; i < 5; ++i) r.buttonPos[i] = {150.0 * i, 100.0 * i};
    return r;
  }

  // The settings file's value under key.
  int32_t stored(const char* key) {
    auto read = PlistDictionary::read(store.filePath());
    return read.dictionary.intValue(key);
  }

  QComboBox* popUp(int slot) { return state.slotPopUps[slot - 1]; }
  Ui::ConfigurationWindow& o() { return window.outlets(); }

  // Picks code in the slot's pop-up as the user would.
  void choose(int slot, int32_t code) {
    int index = popUp(slot)->findData(code);
    ASSERT_GE(index, 0) << code;
    popUp(slot)->setCurrentIndex(index);
    emit popUp(slot)->activated(index);
  }

  testing::TempDir dir;
  Settings settings;
  SettingsStore store;
  FixedDeviceDirectory devices;
  InterfaceState state;
  ConfigurationWindow window;
};

TEST_F(ConfigurationWindowTest, MenusAreBuiltOnceWithSeparatorsAndTags) {
  testing::writeFile(dir / "settings/button.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>spotlightDim</key><string>310</string><key>type2</key><string>27</string>
<key>type2_op1</key><string>8</string><key>type2_op2</key><string>12</string>
<key>numType1</key><string>24</string><key>numType2</key><string>9</string>
</dict></plist>)");
  startUp();
  for (int slot = 1; slot <= 6; ++slot) {
    EXPECT_EQ(popUp(slot)->count(), int(state.slotMenus[slot - 1].size()));
    EXPECT_EQ(popUp(slot)->itemText(1), "");  // a separator
    EXPECT_FALSE(popUp(slot)->model()->flags(popUp(slot)->model()->index(1, 0)) &
                 Qt::ItemIsEnabled);
  }
  EXPECT_EQ(popUp(1)->currentData().toInt(), 27);
  EXPECT_EQ(popUp(1)->currentText(), "Keyboard shortcut…");
  EXPECT_EQ(state.shortcutLabels[0]->text(), "Shift+Super+C");
  EXPECT_TRUE(state.shortcutLabels[0]->isHidden());
  EXPECT_EQ(popUp(2)->currentData().toInt(), 0);
  // A stored pointer mode the slot does not offer leaves it without a choice.
  EXPECT_EQ(popUp(5)->currentIndex(), -1);
  EXPECT_EQ(popUp(6)->currentText(), "Mute");
  EXPECT_EQ(window.window()->windowTitle().toStdString(), state.uiStrings.text("button setting"));
}

TEST_F(ConfigurationWindowTest, RebuildShowsNoDeviceOneDeviceAndTwo) {
  startUp();
  window.window()->show();
  std::vector<bool> shown;
  QObject::connect(&window, &ConfigurationWindow::deviceShown,
                   [&](bool found) { shown.push_back(found); });

  window.windowRebuild(DeviceRecord{});
  EXPECT_TRUE(o().devMsg->isVisible());
  EXPECT_EQ(o().devMsg->text().toStdString(), state.uiStrings.text("device not found"));
  EXPECT_FALSE(o().mouseImage->isVisible() || o().modelName->isVisible() ||
               o().deviceList->isVisible() || o().modelTitle->isVisible());
  for (int s = 1; s <= 6; ++s) EXPECT_FALSE(popUp(s)->isVisible());
  EXPECT_FALSE(o().B1Image->isVisible());

  devices.setDevices({mouse("QR-350", 4 | 16)});
  window.windowRebuild(devices.describeDevice(0));
  EXPECT_FALSE(o().devMsg->isVisible());
  EXPECT_TRUE(o().modelName->isVisible());
  EXPECT_EQ(o().modelName->text(), "QR-350");
  EXPECT_TRUE(o().mouseImage->isVisible());
  EXPECT_FALSE(o().deviceList->isVisible() || o().modelTitle->isVisible());
  EXPECT_TRUE(popUp(1)->isVisible() && popUp(3)->isVisible());
  EXPECT_FALSE(popUp(2)->isVisible());
  EXPECT_EQ(state.slotCaptions[0]->text(), "Button 1");
  EXPECT_EQ(state.slotCaptions[2]->text(), "Button 2");
  EXPECT_TRUE(o().B1Image->isVisible() && o().B2Image->isVisible());
  EXPECT_FALSE(o().B3Image->isVisible());
  // The picture fills the width of its frame; badge 1 sits on button 2.
  QRect picture = o().mouseImage->geometry();
  EXPECT_EQ(picture.width(), window.pictureArea().width());
  double scale = picture.width() / 1000.0;
  QPoint centre = o().B1Image->geometry().center();
  EXPECT_NEAR(centre.x(), picture.x() + 300 * scale, 1.5);
  EXPECT_NEAR(centre.y(), picture.y() + 200 * scale, 1.5);
  EXPECT_GT(o().B1Image->parentWidget()->children().indexOf(o().B1Image),
            o().B1Image->parentWidget()->children().indexOf(o().mouseImage));

  devices.setDevices({mouse("QR-350", 4 | 16), mouse("QR-450", 4 | 8 | 16)});
  devices.selectDevice(1);
  window.windowRebuild(devices.describeDevice(1));
  EXPECT_FALSE(o().modelName->isVisible());
  EXPECT_TRUE(o().deviceList->isVisible() && o().modelTitle->isVisible());
  ASSERT_EQ(o().deviceList->count(), 2);
  EXPECT_EQ(o().deviceList->itemText(1), "QR-450");
  EXPECT_EQ(o().deviceList->currentIndex(), 1);
  EXPECT_EQ(o().modelTitle->text().toStdString(), state.uiStrings.text("model"));
  EXPECT_TRUE(popUp(2)->isVisible());
  EXPECT_EQ(shown, (std::vector<bool>{false, true, true}));
  emit o().deviceList->activated(0);
  EXPECT_EQ(devices.selectedDeviceIndex(), 0);

  // A picture that cannot be read is logged once; the slots show all the same.
  testing::CaptureLog log;
  DeviceRecord r = mouse("QR-350", 4);
  r.imagePath = (dir / "missing.png").string();
  window.windowRebuild(r);
  window.windowRebuild(r);
  EXPECT_EQ(log.count("missing.png"), 1u);
  EXPECT_TRUE(popUp(1)->isVisible());
}

TEST_F(ConfigurationWindowTest, ChoosingAFunctionStoresItAndResetsType1) {
  testing::writeFile(dir / "settings/button.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>spotlightDim</key><string>310</string><key>type1</key><string>13</string>
<key>type3</key><string>14</string><key>numType1</key><string>7</string>
<key>custom</key><string>kept</string>
</dict></plist>)");
  startUp();
  EXPECT_EQ(settings.interceptMask, 2 | 8);

  choose(1, 13);
  EXPECT_EQ(stored("type1"), 0);
  EXPECT_EQ(stored("type2"), 13);
  EXPECT_EQ(stored("type3"), 14);
  EXPECT_EQ(stored("numType1"), 7);
  EXPECT_EQ(settings.interceptMask, 4 | 8);
  EXPECT_EQ(settings.hidButtonMask, 4);

  choose(2, 0);
  choose(6, 9);
  EXPECT_EQ(stored("type3"), 0);
  EXPECT_EQ(stored("numType2"), 9);
  EXPECT_EQ(settings.interceptMask, 4);
  EXPECT_EQ(settings.hidButtonMask, 4 | 2);
  auto read = PlistDictionary::read(store.filePath());
  EXPECT_TRUE(read.dictionary.has("custom"));
}

TEST_F(ConfigurationWindowTest, RecordingAShortcutSwitchingAwayAndClosingTheRecorder) {
  startUp();
  window.window()->show();
  KeyboardStruct* panel = window.shortcutPanel();
  testing::whenModalOpens([panel] {
    panel->keyList()->setCurrentIndex(panel->keyList()->findData(8));  // C
    panel->flagCmd()->click();
    panel->flagShift()->click();
    panel->okButton()->click();
  });
  choose(1, 27);
  EXPECT_EQ(panel->windowTitle(), "Button 1");
  // The key row sits above the modifier check boxes.
  EXPECT_LT(panel->keyList()->geometry().bottom(), panel->flagCtrl()->geometry().top());
  EXPECT_EQ(settings.StandardButtonAssignments[2].load(), (ButtonAssignmentValue{27, 8, 12}));
  EXPECT_EQ(stored("type2"), 27);
  EXPECT_EQ(stored("type2_op1"), 8);
  EXPECT_EQ(stored("type2_op2"), 12);
  EXPECT_EQ(state.shortcutLabels[0]->text(), "Shift+Super+C");
  EXPECT_TRUE(state.shortcutLabels[0]->isVisible());

  // Another slot opens with its own shortcut, not the last one recorded.
  settings.ExtraButtonAssignments[0].store({0, 9, 2});
  bool checkedOnlyAlt = false;
  QString key;
  testing::whenModalOpens([&] {
    checkedOnlyAlt = panel->flagOpt()->isChecked() && !panel->flagCmd()->isChecked() &&
                     !panel->flagShift()->isChecked() && !panel->flagCtrl()->isChecked();
    key = panel->keyList()->currentText();
    panel->okButton()->click();
  });
  choose(4, 27);
  EXPECT_TRUE(checkedOnlyAlt);
  EXPECT_EQ(key, "V");
  EXPECT_EQ(state.shortcutLabels[3]->text(), "Alt+V");

  choose(1, 13);
  EXPECT_TRUE(state.shortcutLabels[0]->isHidden());
  EXPECT_EQ(state.shortcutLabels[0]->text(), "");
  EXPECT_EQ(settings.StandardButtonAssignments[2].load(), (ButtonAssignmentValue{13, 0, 0}));
  EXPECT_EQ(stored("type2_op1"), 0);

  // Closed without OK, the recorder leaves the slot as it was.
  settings.StandardButtonAssignments[3].store({27, 0, 1});
  store.saveSettings();
  popUp(2)->setCurrentIndex(popUp(2)->findData(27));
  testing::whenModalOpens([panel] {
    panel->keyList()->setCurrentIndex(panel->keyList()->findData(6));
    panel->flagShift()->click();
    panel->close();
  });
  choose(2, 27);
  EXPECT_EQ(settings.StandardButtonAssignments[3].load(), (ButtonAssignmentValue{27, 0, 1}));
  EXPECT_EQ(stored("type3_op2"), 1);

  // A slot that had Copy goes back to Copy.
  choose(3, 13);
  testing::whenModalOpens([panel] { panel->close(); });
  choose(3, 27);
  EXPECT_EQ(popUp(3)->currentData().toInt(), 13);
  EXPECT_EQ(stored("type4"), 13);
  EXPECT_TRUE(state.shortcutLabels[2]->text().isEmpty());
}

TEST_F(ConfigurationWindowTest, AProfileKeepsItsOwnSlotsThroughTheStore) {
  Profiles profiles;
  store.setProfiles(&profiles);
  DesktopEntries apps;
  apps.entries = {{"firefox-esr", "Firefox ESR", "", "", true},
                  {"org.gnome.TextEditor", "Text Editor", "", "", true}};
  window.setProfiles(&profiles, [&apps](bool) { return apps; });
  startUp();
  window.window()->show();
  window.windowRebuild(DeviceRecord{});
  EXPECT_FALSE(o().profileList->isVisible());  // no mouse, no slots to set
  devices.setDevices({mouse("QR-350", 4 | 8 | 16)});
  window.windowRebuild(devices.describeDevice(0));
  EXPECT_TRUE(o().profileList->isVisible());
  const ButtonAssignmentValue general = settings.StandardButtonAssignments[3].load();
  QComboBox* selector = o().profileList;
  ASSERT_EQ(selector->count(), 3);  // All applications, a separator, Add application…

  // Adding through the search: the one application that matches.
  int offered = -1;
  testing::whenModalOpens([&offered] {
    QWidget* dialog = QApplication::activeModalWidget();
    dialog->findChild<QLineEdit*>()->setText("FIRE");
    auto* choices = dialog->findChild<QListWidget*>();
    offered = choices->count();
    emit choices->itemActivated(choices->currentItem());
  });
  emit selector->activated(selector->count() - 1);
  EXPECT_EQ(offered, 1);
  EXPECT_EQ(window.shownProfile(), "firefox-esr");
  EXPECT_EQ(selector->currentText(), "Firefox ESR");
  EXPECT_TRUE(o().removeProfile->isVisible());
  for (int slot = 1; slot <= 6; ++slot) {
    EXPECT_EQ(popUp(slot)->currentData().toInt(), kFunctionAsForAllApplications);
  }

  choose(1, 13);
  choose(4, kFunctionDefault);
  KeyboardStruct* panel = window.shortcutPanel();
  testing::whenModalOpens([panel] {
    panel->keyList()->setCurrentIndex(panel->keyList()->findData(8));
    panel->flagShift()->click();
    panel->okButton()->click();
  });
  choose(2, kFunctionShortcut);
  choose(1, kFunctionAsForAllApplications);
  choose(1, 14);

  // What a fresh agent reads back; the general table is untouched.
  Settings reread;
  Profiles rereadProfiles;
  SettingsStore fresh(reread, dir / "settings", testing::sourceResources() / "button.plist");
  fresh.setProfiles(&rereadProfiles);
  fresh.loadSettings();
  ProfileList list = rereadProfiles.list();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].application, "firefox-esr");
  EXPECT_EQ(list[0].assignments[1], (ButtonAssignmentValue{14, 0, 0}));
  EXPECT_EQ(list[0].assignments[2], (ButtonAssignmentValue{kFunctionShortcut, 8, 8}));
  EXPECT_EQ(list[0].assignments[4], (ButtonAssignmentValue{kFunctionDefault, 0, 0}));
  EXPECT_FALSE(list[0].assignments[3] || list[0].assignments[5] || list[0].assignments[6]);
  EXPECT_EQ(reread.StandardButtonAssignments[3].load(), general);

  // All applications' table shows its own slots, without the profile's shortcut.
  emit selector->activated(0);
  EXPECT_EQ(window.shownProfile(), "");
  EXPECT_EQ(popUp(2)->count(), int(state.slotMenus[1].size()));
  EXPECT_EQ(popUp(2)->currentData().toInt(), general.code);
  EXPECT_NE(state.shortcutLabels[1]->text(), "Shift+C");

  emit selector->activated(1);
  EXPECT_EQ(state.shortcutLabels[1]->text(), "Shift+C");
  o().removeProfile->click();
  EXPECT_EQ(window.shownProfile(), "");
  EXPECT_EQ(selector->currentIndex(), 0);
  EXPECT_EQ(selector->count(), 3);
  EXPECT_TRUE(profiles.list().empty());
}

}  // namespace
}  // namespace velt
