// velt-mouse-assistant: the per-user agent behind the mouse's buttons, and
// the command line that drives it.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLocale>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "app/agent.h"
#include "app/app_delegate.h"
#include "app/command_line.h"
#include "app/restore_mice.h"
#include "core/log.h"
#include "platform/hid/crash_restore.h"
#include "platform/process/display_loss.h"
#include "platform/process/file_locations.h"
#include "platform/process/qt_main_thread.h"
#include "platform/process/single_instance.h"
#include "platform/process/unix_signals.h"
#include "platform/session/logind_watch.h"
#include "platform/session/xkb_key_layout.h"
#include "platform/system/syslog_sink.h"
#include "ui/resource_images.h"

namespace {

velt::KeyNames currentKeyNames() {
  auto layout = velt::XkbKeyLayout::current();
  return layout ? velt::localizedKeyNames(*layout) : velt::englishKeyNames();
}

// The command line's work: everything but starting the agent. No display,
// no agent of its own.
int runCommandLine(int argc, char** argv, const velt::CommandLine& command) {
  switch (command.action) {
    case velt::CommandLine::Action::Help:
      std::cout << velt::commandLineHelp("velt-mouse-assistant");
      return velt::kExitDone;
    case velt::CommandLine::Action::Version:
      std::cout << "velt-mouse-assistant " VELT_VERSION " build " VELT_BUILD_NUMBER "\n";
      return velt::kExitDone;
    case velt::CommandLine::Action::BadUse:
      std::cerr << "velt-mouse-assistant: " << command.problem << " (--help lists the options)\n";
      return velt::kExitBadUse;
    case velt::CommandLine::Action::RestoreMice:
    case velt::CommandLine::Action::Request:
    case velt::CommandLine::Action::StartAgent:
      break;
  }
  // The socket needs Qt's core, not its windows.
  QCoreApplication app(argc, argv);
  if (command.action == velt::CommandLine::Action::RestoreMice) {
    velt::SyslogSink sink("velt-mouse-assistant");
    velt::setLogSink(&sink);
    const int status = velt::restoreMice(velt::findFileLocations(), std::cout, std::cerr);
    velt::setLogSink(nullptr);
    return status;
  }
  const velt::SingleInstance instance(velt::findFileLocations().runtimeDir,
                                      std::string(velt::kApplicationId));
  return velt::sendRequest(instance.socketPath(), command.request, std::cout, std::cerr);
}

const char* environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "unset";
}

// The way out when the display has gone: the one the tray menu's exit item
// takes, then an exit with kExitDisplayLost. Qt tells on whichever thread
// noticed; the main thread is asked to take the way out, and should it not
// within a few seconds (it may be waiting for the display that has gone),
// the thread that noticed sends the mice the reports kept for a crash. So it
// does when the display goes before the agent has finished starting.
class DisplayLossExit {
 public:
  void attach(velt::Agent* agent) { agent_.store(agent); }
  void attach(velt::AppDelegate* delegate) { delegate_.store(delegate); }
  void detach() {
    delegate_.store(nullptr);
    agent_.store(nullptr);
  }

  void lost(const std::string& what) {
    if (!logged_.exchange(true)) {
      velt::logFormat("the display connection was lost (%s); giving the mice their buttons back",
                      what.c_str());
    }
    velt::AppDelegate* delegate = delegate_.load();
    velt::Agent* agent = agent_.load();
    QCoreApplication* app = QCoreApplication::instance();
    if (delegate && agent && app) {
      if (QThread::currentThread() == app->thread()) {
        wayOut();
        return;  // called again from within the way out
      }
      agent->mainThread().post([this] { wayOut(); });
      std::this_thread::sleep_for(std::chrono::seconds(5));
      // On its way out: give it time.
      if (started_.load()) std::this_thread::sleep_for(std::chrono::seconds(10));
    }
    if (agent && !started_.exchange(true)) {
      agent->crashRestore().sendFromSignalHandler();
      const velt::SingleInstance names(agent->locations().runtimeDir,
                                       std::string(velt::kApplicationId));
      ::unlink(names.socketPath().c_str());
      ::unlink(names.lockPath().c_str());
    }
    leave();
  }

 private:
  void wayOut() {
    if (started_.exchange(true)) return;
    if (velt::AppDelegate* delegate = delegate_.load()) delegate->leaveAfterDisplayLoss();
    leave();
  }
  [[noreturn]] static void leave() {
    velt::setLogSink(nullptr);
    std::_Exit(velt::kExitDisplayLost);
  }

  std::atomic<velt::AppDelegate*> delegate_{nullptr};
  std::atomic<velt::Agent*> agent_{nullptr};
  std::atomic<bool> logged_{false};
  std::atomic<bool> started_{false};
};

}  // namespace

int main(int argc, char** argv) {
  const velt::CommandLine command = velt::parseCommandLine({argv + 1, argv + argc});
  if (command.action != velt::CommandLine::Action::StartAgent) {
    return runCommandLine(argc, argv, command);
  }

  velt::SyslogSink sink("velt-mouse-assistant");
  velt::setLogSink(&sink);
  if (const char* debug = std::getenv("VELT_DEBUG"); debug && *debug && *debug != '0') {
    velt::setDebugLogging(true);
  }
  static DisplayLossExit displayLoss;
  velt::watchForDisplayLoss(
      {[](const std::string& what) { displayLoss.lost(what); },
       [](const std::string&) {
         velt::logFormat(
             "no display to connect to (DISPLAY %s, WAYLAND_DISPLAY %s); the agent runs in a "
             "desktop session",
             environmentText("DISPLAY"), environmentText("WAYLAND_DISPLAY"));
         velt::setLogSink(nullptr);
         std::_Exit(velt::kExitNoDisplay);
       }});

  QApplication app(argc, argv);
  QApplication::setApplicationName("velt-mouse-assistant");
  QApplication::setApplicationDisplayName("VELT Mouse Assistant");
  QApplication::setApplicationVersion(VELT_VERSION);
  QApplication::setDesktopFileName(
      QString::fromUtf8(velt::kAgentApplicationId.data(), velt::kAgentApplicationId.size()));
  // Closing the configuration window never ends the agent.
  QApplication::setQuitOnLastWindowClosed(false);

  int status = 0;
  {
    velt::QtMainThread mainThread;
    velt::Agent agent(velt::findFileLocations());
    // A fault gives the mice their buttons back too.
    velt::installFatalSignalHandlers(agent.crashRestore());
    displayLoss.attach(&agent);
    QApplication::setWindowIcon(velt::applicationIcon(agent.locations().resources));

    velt::AppEnvironment environment;
    environment.preferredLanguage = QLocale::system().uiLanguages().value(0).toStdString();
    std::error_code ec;
    environment.executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    environment.installPrefix = VELT_INSTALL_PREFIX;
    environment.version = VELT_VERSION;
    environment.buildNumber = VELT_BUILD_NUMBER;
    environment.mainThread = &mainThread;
    environment.keyNames = currentKeyNames;

    velt::AppDelegate delegate(agent, environment);
    // The HID listener could not start ("register usb error"): leave at once.
    agent.setQuitHandler([&app](int code) {
      QMetaObject::invokeMethod(
          &app, [&app, code] { app.exit(code); }, Qt::QueuedConnection);
    });
    // SIGTERM, SIGINT and SIGHUP (the end of the session) take the normal way
    // out, as does the tray menu's exit item.
    velt::UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &velt::UnixSignalWatcher::terminationRequested, &delegate,
                     &velt::AppDelegate::quit);
    const bool started = delegate.applicationDidFinishLaunching();
    if (!started) displayLoss.detach();
    if (started) {
      displayLoss.attach(&delegate);
      // Waking from sleep and switching users, from the login manager.
      velt::LogindWatch login(agent, QDBusConnection::systemBus(),
                              qEnvironmentVariable("XDG_SESSION_ID"));
      login.start();
      status = app.exec();
      delegate.applicationWillTerminate();
      displayLoss.detach();
      // A mouse that never answers keeps one request until the kernel gives
      // up on it, seconds later. Every other mouse has its buttons back by
      // now: leave without waiting for that one.
      if (agent.waitingOnDevice()) {
        velt::logLine("a device does not answer; not waiting for it");
        velt::setLogSink(nullptr);
        std::_Exit(status);
      }
    }
  }
  velt::setLogSink(nullptr);
  return status;
}
