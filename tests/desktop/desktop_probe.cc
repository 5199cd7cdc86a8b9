// velt-desktop-probe: the agent's desktop functions, alone, for the desktop
// tests to drive inside a real desktop.
//
//   velt-desktop-probe run CODE     runs the desktop function of button
//                                   function CODE through DesktopCommands and
//                                   the real QtDesktopSession; prints
//                                   "route: ROUTE" (or "route: none") once it
//                                   is settled
//   velt-desktop-probe window NAME [fullscreen]
//                                   shows a window of class (X11 WM_CLASS) or
//                                   app id (Wayland) NAME until ended;
//                                   prints "shown" once it is exposed, and
//                                   "clicked X Y" for each press in it;
//                                   fullscreen, it shows the test pattern
//   velt-desktop-probe active-class prints the class of the active window as
//                                   the presentation keys see it (on GNOME
//                                   Shell in Wayland: from the agent's
//                                   extension), or "none"
//   velt-desktop-probe pointer      prints where the pointer is as the pointer
//                                   anchor records it (GNOME Shell in Wayland:
//                                   from the agent's extension), or "none"
//   velt-desktop-probe check spotlight|dot|magnifier|clear|pattern PLAIN SHOT
//                      MX MY MW MH PX PY SIZE
//                                   checks the overlay in the picture SHOT
//                                   against PLAIN, the same screen without it:
//                                   on monitor (MX, MY, MW, MH), pointer at
//                                   (PX, PY), hole or lens size SIZE
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "actions/desktop_commands.h"
#include "core/clock.h"
#include "platform/gnome_shell_session.h"
#include "platform/qt_desktop_session.h"
#include "platform/qt_main_thread.h"
#include "platform/x11_session.h"
#include "tests/desktop/overlay_picture.h"

namespace {

int usage() {
  std::fprintf(
      stderr,
      "usage: velt-desktop-probe run CODE | window NAME [fullscreen] | active-class | pointer |\n"
      "       check MODE PLAIN SHOT MX MY MW MH PX PY SIZE\n");
  return 2;
}

class ProbeWindow : public QRasterWindow {
 public:
  explicit ProbeWindow(bool pattern) : pattern_(pattern) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!pattern_) return;
    QImage image(size(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) line[x] = velt::rig::patternAt(x, y);
    }
    QPainter(this).drawImage(0, 0, image);
  }
  void mousePressEvent(QMouseEvent* event) override {
    std::printf("clicked %d %d\n", qRound(event->position().x()), qRound(event->position().y()));
    std::fflush(stdout);
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    if (isExposed() && !announced_) {
      announced_ = true;
      std::printf("shown\n");
      std::fflush(stdout);
    }
  }

 private:
  bool pattern_;
  bool announced_ = false;
};

int check(char** argv) {
  const std::string mode = argv[2];
  velt::rig::OverlayPicture p{
      QImage(argv[3]).convertToFormat(QImage::Format_RGB32),
      QImage(argv[4]).convertToFormat(QImage::Format_RGB32),
      QRect(std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8])),
      QPoint(std::atoi(argv[9]), std::atoi(argv[10])), std::atoi(argv[11])};
  if (p.plain.isNull() || p.shot.isNull()) {
    std::printf("cannot read the pictures\n");
    return 1;
  }
  QString wrong;
  if (mode == "spotlight") {
    wrong = velt::rig::checkSpotlight(p);
  } else if (mode == "dot") {
    wrong = velt::rig::checkPointerDot(p);
  } else if (mode == "magnifier") {
    wrong = velt::rig::checkMagnifier(p);
  } else if (mode == "clear") {
    wrong = velt::rig::checkClear(p);
  } else if (mode == "pattern") {
    wrong = velt::rig::checkPattern(p);
  } else {
    return usage();
  }
  std::printf("%s: %s\n", mode.c_str(), wrong.isEmpty() ? "right" : wrong.toUtf8().constData());
  return wrong.isEmpty() ? 0 : 1;
}

// On GNOME Shell in a Wayland session the agent asks its extension.
bool gnomeShellWayland() {
  return qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME")) &&
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "check") {
    if (argc != 12) return usage();
    QGuiApplication app(argc, argv);
    return check(argv);
  }
  const bool fullscreen = command == "window" && argc == 4 && std::string(argv[3]) == "fullscreen";
  if (command == "window" && (argc == 3 || fullscreen)) {
    // X11 takes the window's class from the application name, Wayland its
    // app id from the desktop file name.
    QCoreApplication::setApplicationName(argv[2]);
    QGuiApplication::setDesktopFileName(argv[2]);
  }
  QGuiApplication app(argc, argv);
  velt::QtMainThread mainThread;
  velt::X11Session x11(velt::systemClock());

  if (command == "active-class" && gnomeShellWayland()) {
    velt::GnomeShellSession shell;
    QObject::connect(&shell, &velt::GnomeShellSession::focusChanged, [&shell] {
      auto active = shell.activeWindowClass();
      std::printf("%s\n", active ? active->className.c_str() : "none");
      QCoreApplication::quit();
    });
    return app.exec();
  }
  if (command == "pointer") {
    velt::GnomeShellSession shell;
    std::optional<velt::PointF> at;
    // Asked from another thread, as the dispatcher asks.
    std::thread ask(
        [&] { at = gnomeShellWayland() ? shell.pointerPosition() : x11.pointerPosition(); });
    ask.join();
    if (at) {
      std::printf("%g %g\n", at->x, at->y);
    } else {
      std::printf("none\n");
    }
    return 0;
  }
  if (command == "active-class") {
    auto active = x11.activeWindowClass();
    std::printf("%s\n", active ? active->className.c_str() : "none");
    return 0;
  }
  if (command == "window") {
    ProbeWindow window(fullscreen);
    window.setTitle(argv[2]);
    window.resize(400, 300);
    if (fullscreen) {
      window.showFullScreen();
    } else {
      window.show();
    }
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
