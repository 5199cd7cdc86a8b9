// velt-mouse-assistant: the per-user agent behind the mouse's buttons, and
// the command line that drives it.
#include <QApplication>
#include <QCoreApplication>
#include <QLocale>
#include <QMetaObject>
#include <cstdlib>
#include <iostream>

#include "app/agent.h"
#include "app/app_delegate.h"
#include "app/command_line.h"
#include "core/log.h"
#include "platform/file_locations.h"
#include "platform/logind_watch.h"
#include "platform/qt_main_thread.h"
#include "platform/single_instance.h"
#include "platform/syslog_sink.h"
#include "platform/unix_signals.h"
#include "platform/xkb_key_layout.h"
#include "ui/resource_images.h"

namespace {

velt::KeyNames currentKeyNames() {
  auto layout = velt::XkbKeyLayout::current();
  return layout ? velt::localizedKeyNames(*layout) : velt::englishKeyNames();
}

// The command line's work: everything but starting the agent. No display,
// no lock, no agent of its own.
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
    case velt::CommandLine::Action::Request:
    case velt::CommandLine::Action::StartAgent:
      break;
  }
  // The socket needs Qt's core, not its windows.
  QCoreApplication app(argc, argv);
  const velt::SingleInstance instance(velt::findFileLocations().runtimeDir,
                                      std::string(velt::kApplicationId));
  return velt::sendRequest(instance.socketPath(), command.request, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  const velt::CommandLine command = velt::parseCommandLine({argv + 1, argv + argc});
  if (command.action != velt::CommandLine::Action::StartAgent) {
    return runCommandLine(argc, argv, command);
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("velt-mouse-assistant");
  QApplication::setApplicationDisplayName("VELT Mouse Assistant");
  QApplication::setApplicationVersion(VELT_VERSION);
  QApplication::setDesktopFileName("quorin.driver.velt");
  // Closing the configuration window never ends the agent.
  QApplication::setQuitOnLastWindowClosed(false);

  velt::SyslogSink sink("velt-mouse-assistant");
  velt::setLogSink(&sink);
  if (const char* debug = std::getenv("VELT_DEBUG"); debug && *debug && *debug != '0') {
    velt::setDebugLogging(true);
  }

  int status = 0;
  {
    velt::QtMainThread mainThread;
    velt::Agent agent(velt::findFileLocations());
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
    if (delegate.applicationDidFinishLaunching()) {
      // Waking from sleep and switching users, from the login manager.
      velt::LogindWatch login(agent, QDBusConnection::systemBus(),
                              qEnvironmentVariable("XDG_SESSION_ID"));
      login.start();
      status = app.exec();
      delegate.applicationWillTerminate();
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
