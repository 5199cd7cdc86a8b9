#include "app/app_delegate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWidget>
#include <map>

#include "app/agent_status.h"
#include "core/log.h"
#include "platform/gnome/shell_extension.h"
#include "platform/process/single_instance.h"
#include "platform/session/agent_bus.h"
#include "platform/session/tray_host_watch.h"
#include "platform/session/user_service_manager.h"
#include "ui/agent_commands.h"
#include "ui/auto_run.h"
#include "ui/configuration_window.h"
#include "ui/resource_images.h"
#include "ui_configuration_window.h"

namespace velt {
namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

AppDelegate::AppDelegate(Agent& agent, AppEnvironment environment, QObject* parent)
    : QObject(parent), agent_(agent), env_(std::move(environment)) {
  if (!env_.clock) env_.clock = &systemClock();
  if (!env_.quit) env_.quit = [] { QCoreApplication::quit(); };
  if (!env_.userServices) env_.userServices = std::make_shared<SystemctlUserManager>();
}

AppDelegate::~AppDelegate() {
  applicationWillTerminate();
  agent_.devices().onDeviceChange(nullptr);
  delete statusItem_;
}

bool AppDelegate::applicationDidFinishLaunching() {
  const FileLocations& where = agent_.locations();

  // 1. One agent per user.
  singleInstance_ = new SingleInstance(where.runtimeDir, std::string(kApplicationId), this);
  if (!singleInstance_->acquire()) {
    // No lock at all is logged already: two agents must never run at once.
    if (singleInstance_->heldByAnotherCopy()) {
      logLine("Already exist, exit");
      singleInstance_->askRunningCopyToReopen();
    }
    return false;
  }
  // Whoever asks the agent to quit learns when it has ended: the connection
  // closes as the process does.
  AgentRequest quitRequest;
  quitRequest.kind = AgentRequest::Kind::Quit;
  singleInstance_->setLastingRequests({requestLine(quitRequest)});
  singleInstance_->setRequestHandler([this](const std::string& line, SingleInstance::Reply reply) {
    handleRequest(line, std::move(reply));
  });

  // 2-4. The overlay window, its view and the redraw loop.
  agent_.hooks.createOverlay();

  // 5. The window and its slot tables.
  window_ = std::make_unique<ConfigurationWindow>(state_, agent_.settings(), agent_.settingsStore(),
                                                  agent_.devices());
  window_->fillSlotTables();
  window_->setProfiles(
      &agent_.profiles(), [this](bool fresh) { return agent_.installedApplications(fresh); },
      [this] { return agent_.openApplications(); });
  window_->window()->installEventFilter(this);
  connect(window_.get(), &ConfigurationWindow::deviceShown, this, [this](bool found) {
    deviceFound_ = found;
    if (statusItem_) statusItem_->setIcon(found ? state_.statusIconColor : state_.statusIconGray);
  });

  // 6. Settings, then the model catalogue.
  agent_.start();

  // 7. The device layer; the window follows every device change, handed to
  // the main thread from where the notice is raised.
  agent_.devices().onDeviceChange([this](const DeviceRecord& record) { showDeviceChange(record); });
  if (!agent_.hooks.initDeviceLayer()) {
    logLine("error run");
    env_.clock->sleepFor(std::chrono::seconds(2));
    return false;
  }

  // 10. The window starts hidden.
  window_->window()->hide();

  // 12. The first fill, even when no device event arrives.
  agent_.timers().runAfter(
      "setdddd show run", Clock::Duration::zero(),
      [&devices = agent_.devices()] { devices.scheduleDeviceChangeNotice(600); });

  // 13. Language and texts.
  chooseLanguage();
  window_->applyTexts();

  // 14. The shortcut recorder.
  window_->initSetKeyboardPanel(env_.keyNames());

  // 15. The slot menus and shortcut labels.
  window_->buildSlotMenus();

  // 16. Version text.
  window_->setVersionText(env_.version, env_.buildNumber);

  // 17. Start at log-in, when this is the installed copy.
  if (runsFromInstalledLocation(env_.executable, env_.installPrefix / "bin")) {
    logLine("set autorun...");
    agent_.timers().runAfter(
        "set auto run", Clock::Duration::zero(),
        [resources = where.resources, autostart = where.configHome / "autostart",
         unit = userUnitFile(env_.installPrefix), manager = env_.userServices] {
          setUpAutoRun(resources / kAutostartTemplate, autostart, unit, *manager);
        });
  }

  // 18. The tray item.
  createStatusItem();

  // 19. Badges and logo.
  window_->loadImages(where.resources);
  return true;
}

void AppDelegate::chooseLanguage() {
  logFormat("%s", env_.preferredLanguage.c_str());
  state_.languageId = chooseLanguageId(env_.preferredLanguage);
  state_.uiStrings = loadUiStrings(agent_.locations().languageFile(), state_.languageId);
  state_.functionNames = buildFunctionNames(state_.languageId);
}

void AppDelegate::createStatusItem() {
  const auto& resources = agent_.locations().resources;
  state_.statusIconGray = trayIcon(resources, "appicon_ss2_gray", false);
  state_.statusIconColor = trayIcon(resources, "appicon_ss2", true);
  auto& outlets = window_->outlets();
  connect(outlets.textMenuConfig, &QAction::triggered, this, &AppDelegate::showConfig);
  connect(outlets.textMenuUninstall, &QAction::triggered, this, &AppDelegate::uninstall);
  connect(outlets.textMenuExit, &QAction::triggered, this, &AppDelegate::quit);
  // On Wayland the only tray is a panel that hosts status notifier items,
  // and Qt looks for one only when the first icon is made: the icon waits
  // for the panel, which may start after the agent at log-in. X11 has the
  // older tray too, which Qt follows when it comes later.
  if (QGuiApplication::platformName() == QLatin1String("wayland")) {
    auto* tray = new TrayHostWatch(QDBusConnection::sessionBus(), this);
    connect(tray, &TrayHostWatch::hostAppeared, this, &AppDelegate::showStatusIcon);
    tray->start();
  } else {
    showStatusIcon();
  }

  // The same menu for desktops that have no tray, through the agent's GNOME
  // Shell extension; the tray icon stands aside while that shows it.
  const std::map<QAction*, QString> items = {
      {outlets.textMenuConfig, QStringLiteral("settings")},
      {outlets.textMenuUninstall, QStringLiteral("uninstall")},
      {outlets.textMenuExit, QStringLiteral("exit")}};
  agentBus_ = new AgentBus(
      [menu = outlets.statusMenu, items] {
        QList<AgentMenuItem> list;
        for (QAction* action : menu->actions()) {
          auto item = items.find(action);
          if (item != items.end()) list.append({item->second, action->text()});
        }
        return list;
      },
      [this](const QString& item) {
        if (item == QLatin1String("settings")) {
          showConfig();
        } else if (item == QLatin1String("uninstall")) {
          uninstall();
        } else if (item == QLatin1String("exit")) {
          quit();
        } else {
          logFormat("D-Bus: no menu item \"%s\"", item.toUtf8().constData());
        }
      },
      this);
  connect(agentBus_, &AgentBus::shellMenuChanged, this, [this](bool present) {
    shellMenuShown_ = present;
    if (statusItem_) statusItem_->setVisible(!present);
  });
  agentBus_->publish();
  enableShellExtension(this);
}

void AppDelegate::showStatusIcon() {
  if (statusItem_) return;
  statusItem_ = new QSystemTrayIcon(deviceFound_ ? state_.statusIconColor : state_.statusIconGray);
  statusItem_->setToolTip(qs(std::string(kStatusToolTip)));
  statusItem_->setContextMenu(window_->outlets().statusMenu);
  connect(statusItem_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) showConfig();
          });
  statusItem_->setVisible(!shellMenuShown_);
}

void AppDelegate::showDeviceChange(const DeviceRecord& record) {
  logDebug("device change: %s", record.type ? "a supported mouse" : "no supported mouse");
  env_.mainThread->post([self = QPointer<AppDelegate>(this), record] {
    if (self && !self->terminated_) self->window_->windowRebuild(record);
  });
}

void AppDelegate::showConfig() {
  QWidget* window = window_->window();
  window->show();
  window->raise();
  window->activateWindow();
}

void AppDelegate::applicationShouldHandleReopen() {
  showConfig();
}

void AppDelegate::handleRequest(const std::string& line,
                                std::function<void(std::string_view)> reply) {
  logDebug("request: %s", line.c_str());
  std::string error;
  std::optional<AgentRequest> request = parseRequestLine(line, &error);
  if (!request) {
    reply(std::string(kAnswerRefused) + error);
    return;
  }
  switch (request->kind) {
    case AgentRequest::Kind::Show:
      applicationShouldHandleReopen();
      reply(kAnswerOk);
      return;
    case AgentRequest::Kind::Reconfigure:
      if (!agent_.sessionActive()) {
        reply(std::string(kAnswerRefused) + std::string(kSessionAwayRefusal));
        return;
      }
      agent_.resumed();
      reply(kAnswerOk);
      return;
    case AgentRequest::Kind::Status:
      reply(statusAnswer(agent_.devices(), agent_.actions().queries, agent_.profiles(),
                         agent_.openApplications()));
      return;
    case AgentRequest::Kind::Quit:
      // The caller's connection stays open until the process ends, so it
      // learns when the mice have their buttons back.
      reply(kAnswerOk);
      quit();
      return;
    case AgentRequest::Kind::Run:
    case AgentRequest::Kind::Press:
    case AgentRequest::Kind::Release:
      break;
  }
  agent_.runCommand(*request, [mainThread = env_.mainThread, reply](std::string refusal) {
    mainThread->post([reply, refusal] {
      reply(refusal.empty() ? std::string(kAnswerOk) : std::string(kAnswerRefused) + refusal);
    });
  });
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
  if (window_ && watched == window_->window() && event->type() == QEvent::Close && !quitting_) {
    logLine("shide");
  }
  return QObject::eventFilter(watched, event);
}

void AppDelegate::uninstall() {
  const UiStrings& texts = state_.uiStrings;
  QMessageBox alert(QMessageBox::Warning, qs(std::string(kProductName)),
                    qs(uninstallQuestion(texts)), QMessageBox::NoButton, window_->window());
  QPushButton* confirm = alert.addButton(qs(texts.text("uninstall")), QMessageBox::AcceptRole);
  // A stray Enter keeps the agent.
  alert.setDefaultButton(alert.addButton(qs(texts.text("cancel")), QMessageBox::RejectRole));
  alert.exec();
  if (alert.clickedButton() != confirm) return;

  logLine("uninstall");
  env_.userServices->disable(kUserUnit);
  removeAutoRun(agent_.locations().configHome / "autostart", "");
  removeInstalledFiles(installedFiles(env_.installPrefix));
  // The mice get their buttons back on the way out.
  quit();
}

void AppDelegate::quit() {
  quitting_ = true;
  env_.quit();
}

void AppDelegate::applicationWillTerminate() {
  if (terminated_ || !window_) return;
  terminated_ = true;
  delete agentBus_;  // the desktop's menu goes at once
  agentBus_ = nullptr;
  agent_.devices().restoreDevicesOnQuit();
  agent_.stop();
}

void AppDelegate::leaveAfterDisplayLoss() {
  applicationWillTerminate();
  if (singleInstance_) singleInstance_->release();
}

}  // namespace velt
