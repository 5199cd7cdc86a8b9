// velt-desktop-probe: the agent's desktop functions, alone, for the desktop
// tests to drive inside a real desktop.
//
//   velt-desktop-probe run CODE     runs the desktop function of button
//                                   function CODE through DesktopCommands and
//                                   the real QtDesktopSession; prints
//                                   "route: ROUTE" (or "route: none") once it
//                                   is settled
//   velt-desktop-probe window NAME  shows a window of class (X11 WM_CLASS) or
//                                   app id (Wayland) NAME until ended;
//                                   prints "shown" once it is exposed
//   velt-desktop-probe active-class prints the class of the active X11 window
//                                   as the presentation keys see it, or "none"
#include <QGuiApplication>
#include <QRasterWindow>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "actions/desktop_commands.h"
#include "core/clock.h"
#include "platform/qt_desktop_session.h"
#include "platform/qt_main_thread.h"
#include "platform/x11_session.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: velt-desktop-probe run CODE | window NAME | active-class\n");
  return 2;
}

class ProbeWindow : public QRasterWindow {
 protected:
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    if (isExposed() && !announced_) {
      announced_ = true;
      std::printf("shown\n");
      std::fflush(stdout);
    }
  }

 private:
  bool announced_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "window" && argc == 3) {
    // X11 takes the window's class from the application name, Wayland its
    // app id from the desktop file name.
    QCoreApplication::setApplicationName(argv[2]);
    QGuiApplication::setDesktopFileName(argv[2]);
  }
  QGuiApplication app(argc, argv);
  velt::QtMainThread mainThread;
  velt::X11Session x11(velt::systemClock());

  if (command == "active-class") {
    auto active = x11.activeWindowClass();
    std::printf("%s\n", active ? active->className.c_str() : "none");
    return 0;
  }
  if (command == "window" && argc == 3) {
    ProbeWindow window;
    window.setTitle(argv[2]);
    window.resize(400, 300);
    window.show();
    return app.exec();
  }
  if (command != "run" || argc != 3) return usage();

  static const std::map<int, velt::DesktopFunction> functions = {
      {1, velt::DesktopFunction::WindowOverview},     {4, velt::DesktopFunction::ShowDesktop},
      {5, velt::DesktopFunction::ApplicationWindows}, {6, velt::DesktopFunction::Dashboard},
      {16, velt::DesktopFunction::FileManager},       {17, velt::DesktopFunction::Screenshot},
      {30, velt::DesktopFunction::ApplicationGrid}};
  auto function = functions.find(std::atoi(argv[2]));
  if (function == functions.end()) return usage();
  velt::QtDesktopSession session(x11);
  velt::DesktopCommands commands(session, mainThread);
  commands.run(function->second, [](const std::string& route) {
    std::printf("route: %s\n", route.empty() ? "none" : route.c_str());
    std::fflush(stdout);
    // A started program or a portal dialog may still be on its way: leave
    // the event loop a moment to send what is queued.
    QTimer::singleShot(200, [] { QCoreApplication::quit(); });
  });
  return app.exec();
}
