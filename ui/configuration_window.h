// The configuration window: the selected mouse with numbered badges, one
// function pop-up per configurable button, and above them the selector of the
// table they show: all applications', or one application's profile. Main
// thread only.
#pragma once

#include <QObject>
#include <QRect>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "actions/shortcut_text.h"
#include "core/desktop_entries.h"
#include "core/profiles.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/device_directory.h"
#include "ui/interface_state.h"
#include "ui/profile_selector.h"
#include "ui/window_layout.h"

class QWidget;
namespace Ui {
class ConfigurationWindow;
}

namespace velt {

class KeyboardStruct;

class ConfigurationWindow : public QObject {
  Q_OBJECT
 public:
  ConfigurationWindow(InterfaceState& state, Settings& settings, SettingsStore& store,
                      DeviceDirectory& devices, QObject* parent = nullptr);
  ~ConfigurationWindow() override;

  // The outlets of the interface file.
  Ui::ConfigurationWindow& outlets() { return *outlets_; }
  QWidget* window() const { return window_; }
  KeyboardStruct* shortcutPanel() const { return shortcutPanel_; }

  // Start-up, in the order the delegate calls them.
  void fillSlotTables();
  // The profiles the selector offers, the installed applications that name
  // them (fresh: read again, as when one is to be added), and those with
  // windows open now, by desktop entry id. Without it the window shows the
  // general table only.
  void setProfiles(Profiles* profiles, std::function<DesktopEntries(bool fresh)> applications,
                   std::function<std::vector<std::string>()> openApplications = {});
  void applyTexts();
  void initSetKeyboardPanel(KeyNames names);
  void buildSlotMenus();
  void setVersionText(const std::string& version, const std::string& buildNumber);
  void loadImages(const std::filesystem::path& resources);

  // Refreshes the window for the selected device's record (type 0: none).
  void windowRebuild(const DeviceRecord& record);

  // The device picker chose index.
  void changeDevice(int index);
  // Slot index 0 to 5 chose the function code.
  void setFunc(int slotIndex, int32_t code);
  // Records a shortcut for slot index 0 to 5 and commits it. Closing the
  // recorder without OK keeps the slot as it was.
  void setKeyboard(int slotIndex);
  // Stores the six pop-ups' choices, saves, and has the mice reconfigured.
  void updateConfig();

  // Shows the table of application (empty: all applications).
  void selectTable(const std::string& application);
  const std::string& shownProfile() const { return profile_; }
  // Makes a profile for application with every slot as for all
  // applications, and shows it.
  void addProfile(const std::string& application);
  // Removes the shown profile and shows all applications' table.
  void removeShownProfile();

  // How long badges take to move; 0 moves them at once.
  void setBadgeAnimationMs(int ms) { badgeAnimationMs_ = ms; }
  // The frame the picture is fitted into.
  QRect pictureArea() const { return pictureArea_; }

 signals:
  // The window was rebuilt; found tells whether a supported mouse is shown.
  void deviceShown(bool found);

 private:
  void showPicture(const std::string& path);
  WindowGeometry measure() const;
  void moveBadge(int index, const RectF& frame);
  void fillSelector();
  void showTable();
  void chooseApplication();
  // Commits list; when it is refused, says why once and shows the table as
  // it was.
  void commitProfiles(ProfileList list);
  // The shown profile's slot index, set to value (nullopt: as for all
  // applications), committed.
  void storeProfileSlot(int slotIndex, std::optional<ButtonAssignmentValue> value);

  InterfaceState& state_;
  Settings& settings_;
  SettingsStore& store_;
  DeviceDirectory& devices_;
  QWidget* window_;
  std::unique_ptr<Ui::ConfigurationWindow> outlets_;
  KeyboardStruct* shortcutPanel_ = nullptr;
  QRect pictureArea_;
  int badgeAnimationMs_ = 220;
  std::set<std::string> unreadablePictures_;
  Profiles* profiles_ = nullptr;
  std::function<DesktopEntries(bool fresh)> readApplications_;
  std::function<std::vector<std::string>()> openApplications_;
  DesktopEntries applications_;  // as last read
  std::vector<SelectorEntry> selector_;
  std::string profile_;  // the application whose table is shown; empty: all
};

}  // namespace velt
