// The configuration window: the selected mouse with numbered badges, and one
// function pop-up per configurable button. Main thread only.
#pragma once

#include <QObject>
#include <QRect>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "actions/shortcut_text.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/device_directory.h"
#include "ui/interface_state.h"
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
};

}  // namespace velt
