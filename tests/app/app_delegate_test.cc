#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWidget>
#include <thread>

#include "platform/process/qt_main_thread.h"
#include "testing/fixed_device_directory.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"
#include "ui/auto_run.h"
#include "ui/configuration_window.h"
#include "ui_configuration_window.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

class AppDelegateTest : public ::testing::Test {
 protected:
  AppDelegateTest() {
    locations.resources = dir / "resources";
    fs::create_directories(locations.resources);
    fs::copy_file(testing::sourceResources() / "button.plist",
                  locations.resources / "button.plist");
    testing::writeFile(locations.resources / "quorin.driver.agent.desktop",
                       "[Desktop Entry]\nName=VELT Mouse Assistant\nExec=velt-mouse-assistant\n");
    testing::writeFile(locations.resources / "language.json",
                       R"({"1041": {"button setting": "ボタン設定", "exit": "終了",
                                    "uninstall": "削除", "cancel": "キャンセル"}})");
    locations.settingsFolder = dir / "settings";
    locations.configHome = dir / "config";
    locations.runtimeDir = dir / "run";
    fs::create_directories(locations.runtimeDir);
  }

  std::unique_ptr<Agent> makeAgent() {
    auto fixed = std::make_unique<FixedDeviceDirectory>();
    devices = fixed.get();
    return std::make_unique<Agent>(locations, std::move(fixed));
  }

  AppEnvironment environment() {
    AppEnvironment env;
    env.preferredLanguage = "ja_JP.UTF-8";
    env.executable = dir / "build/bin/velt-mouse-assistant";
    env.installPrefix = dir / "prefix";
    env.version = "1.2.0";
    env.buildNumber = "15";
    env.mainThread = &mainThread;
    env.clock = &clock;
    env.quit = [this] { ++quits; };
    env.userServices = services;
    return env;
  }

  struct RecordingServices : UserServiceManager {
    bool runsGraphicalSession() override { return false; }
    bool enable(std::string_view) override { return false; }
    bool disable(std::string_view unit) override {
      disabled.emplace_back(unit);
      return true;
    }
    std::vector<std::string> disabled;
  };
  std::shared_ptr<RecordingServices> services = std::make_shared<RecordingServices>();

  testing::TempDir dir;
  FileLocations locations;
  FixedDeviceDirectory* devices = nullptr;
  QtMainThread mainThread;
  testing::FakeClock clock;
  int quits = 0;
};

TEST_F(AppDelegateTest, StartsUpInOrder) {
  testing::CaptureLog log;
  auto agent = makeAgent();
  std::vector<std::string> steps;
  AppDelegate delegate(*agent, environment());
  agent->hooks.createOverlay = [&] {
    steps.push_back("overlay");
    EXPECT_EQ(log.count("load setting"), 0u);
  };
  agent->hooks.initDeviceLayer = [&] {
    steps.push_back("devices");
    EXPECT_EQ(log.count("load setting"), 1u);  // the settings come first
    EXPECT_EQ(delegate.state().functionNames.size(), 0u);
    return true;
  };
  ASSERT_TRUE(delegate.applicationDidFinishLaunching());
  EXPECT_EQ(steps, (std::vector<std::string>{"overlay", "devices"}));

  auto& window = delegate.configurationWindow();
  EXPECT_FALSE(window.window()->isVisible());
  EXPECT_EQ(window.window()->windowTitle(), "ボタン設定");
  EXPECT_EQ(window.outlets().textMenuExit->text(), "終了");
  EXPECT_EQ(window.outlets().funcList1->itemText(0), "初期設定");
  EXPECT_EQ(window.outlets().appVer->text(), "1.2.0 build 15");
  EXPECT_TRUE(window.outlets().logoImage->isHidden());
  ASSERT_TRUE(delegate.statusItem());
  EXPECT_EQ(delegate.statusItem()->toolTip(), "QR-350/QR-450 Mouse Assistant");
  EXPECT_EQ(delegate.statusItem()->contextMenu(), window.outlets().statusMenu);
  EXPECT_EQ(log.count("init panel"), 1u);
  EXPECT_EQ(log.count("set autorun"), 0u);  // not the installed copy

  // The first fill comes without any device event; then each change.
  std::vector<bool> shown;
  QObject::connect(&window, &ConfigurationWindow::deviceShown,
                   [&](bool found) { shown.push_back(found); });
  EXPECT_TRUE(testing::processEventsUntil([&] { return shown.size() == 1; }));
  EXPECT_EQ(shown, std::vector<bool>{false});
  EXPECT_FALSE(window.outlets().devMsg->isHidden());
  DeviceRecord mouse;
  mouse.type = 1;
  mouse.name = "QR-450";
  mouse.buttonMask = 4;
  devices->setDevices({mouse});
  EXPECT_TRUE(testing::processEventsUntil([&] { return shown.size() == 2; }));
  EXPECT_EQ(shown, (std::vector<bool>{false, true}));
  EXPECT_EQ(window.outlets().modelName->text(), "QR-450");

  delegate.applicationWillTerminate();
  EXPECT_EQ(devices->restoreCount(), 1);
  delegate.applicationWillTerminate();
  EXPECT_EQ(devices->restoreCount(), 1);
}

TEST_F(AppDelegateTest, SecondCopyLogsAndHandsOver) {
  auto firstAgent = makeAgent();
  AppDelegate first(*firstAgent, environment());
  ASSERT_TRUE(first.applicationDidFinishLaunching());
  QWidget* window = first.configurationWindow().window();
  ASSERT_FALSE(window->isVisible());

  testing::CaptureLog log;
  auto secondAgent = makeAgent();
  bool overlayMade = false;
  secondAgent->hooks.createOverlay = [&] { overlayMade = true; };
  std::thread second([&] {
    AppDelegate delegate(*secondAgent, environment());
    EXPECT_FALSE(delegate.applicationDidFinishLaunching());
  });
  EXPECT_TRUE(testing::processEventsUntil([&] { return window->isVisible(); }));
  second.join();
  EXPECT_EQ(log.count("Already exist, exit"), 1u);
  EXPECT_FALSE(overlayMade);
}

TEST_F(AppDelegateTest, DeviceLayerFailureEndsStartUp) {
  testing::CaptureLog log;
  auto agent = makeAgent();
  agent->hooks.initDeviceLayer = [] { return false; };
  AppDelegate delegate(*agent, environment());
  auto before = clock.now();
  EXPECT_FALSE(delegate.applicationDidFinishLaunching());
  EXPECT_EQ(log.count("error run"), 1u);
  EXPECT_EQ(clock.now() - before, std::chrono::seconds(2));
  EXPECT_EQ(delegate.statusItem(), nullptr);
}

// The command line's answers, and its requests reaching the dispatcher, are
// checked on the agent process and in the guest: here, that quitting lets go
// of what they hold.
TEST_F(AppDelegateTest, ClosingTheWindowKeepsTheAgentAndExitLetsGo) {
  auto agent = makeAgent();
  AppDelegate delegate(*agent, environment());
  ASSERT_TRUE(delegate.applicationDidFinishLaunching());
  std::string answer;
  delegate.handleRequest("press 23", [&](std::string_view a) { answer = a; });
  EXPECT_TRUE(testing::processEventsUntil([&] { return !answer.empty(); }));
  EXPECT_EQ(agent->pointerModes().wheelMode, kWheelHorizontal);

  delegate.showConfig();
  QWidget* window = delegate.configurationWindow().window();
  EXPECT_TRUE(window->isVisible());
  testing::CaptureLog log;
  window->close();
  EXPECT_EQ(log.count("shide"), 1u);
  EXPECT_EQ(quits, 0);

  delegate.configurationWindow().outlets().textMenuExit->trigger();
  EXPECT_EQ(quits, 1);
  delegate.showConfig();
  window->close();  // closed by the way out: no "shide"
  EXPECT_EQ(log.count("shide"), 1u);
  delegate.applicationWillTerminate();
  EXPECT_EQ(agent->pointerModes().wheelMode, kWheelOff);
}

TEST_F(AppDelegateTest, InstalledCopyWritesItsAutostartEntry) {
  testing::CaptureLog log;
  testing::writeFile(dir / "prefix/bin/velt-mouse-assistant", "");
  testing::writeFile(locations.configHome / "autostart/velt.desktop",
                     "[Desktop Entry]\nExec=/usr/local/bin/velt-mouse-assistant\n");
  auto agent = makeAgent();
  auto env = environment();
  env.executable = dir / "prefix/bin/velt-mouse-assistant";
  {
    AppDelegate delegate(*agent, env);
    ASSERT_TRUE(delegate.applicationDidFinishLaunching());
    EXPECT_EQ(log.count("set autorun..."), 1u);
  }  // joins the auto-run queue
  EXPECT_TRUE(fs::exists(locations.configHome / "autostart/quorin.driver.velt.desktop"));
  EXPECT_FALSE(fs::exists(locations.configHome / "autostart/velt.desktop"));
}

TEST_F(AppDelegateTest, UninstallAsksFirst) {
  auto agent = makeAgent();
  AppDelegate delegate(*agent, environment());
  ASSERT_TRUE(delegate.applicationDidFinishLaunching());
  auto prefix = dir / "prefix";
  for (const auto& f : installedFiles(prefix)) testing::writeFile(f, "x");
  auto entry = locations.configHome / "autostart/quorin.driver.velt.desktop";
  testing::writeFile(entry, "[Desktop Entry]\nName=VELT Mouse Assistant\n");

  QString question;
  QStringList buttons;
  testing::whenModalOpens([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    question = box->text();
    for (auto* b : box->buttons()) buttons << b->text();
    // Enter picks the default button: Cancel.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &enter);
  });
  delegate.uninstall();
  EXPECT_EQ(question, "削除 \n\"VELT Mouse Assistant\"?");
  EXPECT_EQ(buttons, (QStringList{"削除", "キャンセル"}));
  EXPECT_TRUE(fs::exists(entry));
  EXPECT_EQ(quits, 0);

  testing::whenModalOpens([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    box->buttons().at(0)->click();
  });
  delegate.uninstall();
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_EQ(services->disabled, std::vector<std::string>{"velt-mouse-assistant.service"});
  EXPECT_FALSE(fs::exists(prefix / "bin/velt-mouse-assistant"));
  EXPECT_FALSE(fs::exists(prefix / "share/velt-mouse-assistant"));
  EXPECT_EQ(quits, 1);  // the way out, which hands the buttons back
}

}  // namespace
}  // namespace velt
