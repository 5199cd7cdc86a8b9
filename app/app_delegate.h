// The application delegate: start-up in its fixed order, the tray item, the
// reopen and close behaviour of the configuration window, uninstall, and
// termination. One instance, on the main thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "actions/shortcut_text.h"
#include "app/agent.h"
#include "core/clock.h"
#include "core/main_thread.h"
#include "core/user_service_manager.h"
#include "ui/interface_state.h"

class QSystemTrayIcon;

namespace velt {

class AgentBus;
class ConfigurationWindow;
class SingleInstance;

// What the delegate learns about the process and its surroundings.
struct AppEnvironment {
  std::string preferredLanguage;  // the first of the user's preferred languages
  std::filesystem::path executable;
  std::filesystem::path installPrefix;  // where the package installs the agent
  std::string version;
  std::string buildNumber;
  MainThread* mainThread = nullptr;
  Clock* clock = nullptr;
  // The recorder's key names on the user's keyboard layout.
  std::function<KeyNames()> keyNames = englishKeyNames;
  // Ends the event loop; the termination path then runs.
  std::function<void()> quit;
  // Where auto-run enables the agent's user unit; systemctl --user when null.
  std::shared_ptr<UserServiceManager> userServices;
};

class AppDelegate : public QObject {
  Q_OBJECT
 public:
  AppDelegate(Agent& agent, AppEnvironment environment, QObject* parent = nullptr);
  ~AppDelegate() override;

  // Start-up. False when the process must end at once with status 0: another
  // copy runs, or the device layer could not start.
  bool applicationDidFinishLaunching();
  // A second copy was started: the window comes to the front.
  void applicationShouldHandleReopen();
  // A request line from a second copy or the command line (see
  // ui/agent_commands.h); reply gets the answer line, now or later.
  void handleRequest(const std::string& line, std::function<void(std::string_view)> reply);
  // The termination path: hands the mice their buttons back, then stops the
  // background loops.
  void applicationWillTerminate();
  // The display has gone: the termination path, then the socket and the
  // lock go, since the process ends without tearing anything down.
  void leaveAfterDisplayLoss();

  // The tray menu's actions.
  void showConfig();
  void uninstall();
  // Ends the agent through the termination path (exit item, signals).
  void quit();

  InterfaceState& state() { return state_; }
  ConfigurationWindow& configurationWindow() { return *window_; }
  QSystemTrayIcon* statusItem() const { return statusItem_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void chooseLanguage();
  void createStatusItem();
  // The tray icon itself, once the desktop has a tray for it.
  void showStatusIcon();
  // Any thread: the window shows record, on the main thread.
  void showDeviceChange(const DeviceRecord& record);

  Agent& agent_;
  AppEnvironment env_;
  InterfaceState state_;
  std::unique_ptr<ConfigurationWindow> window_;
  SingleInstance* singleInstance_ = nullptr;
  QSystemTrayIcon* statusItem_ = nullptr;
  AgentBus* agentBus_ = nullptr;  // the tray menu for the desktop's own menus
  bool shellMenuShown_ = false;   // the GNOME Shell extension shows the menu
  bool deviceFound_ = false;      // the tray icon in colour
  bool quitting_ = false;
  bool terminated_ = false;
};

}  // namespace velt
