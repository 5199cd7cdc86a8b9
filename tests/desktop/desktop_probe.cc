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
//                                   fullscreen, it shows the test pattern,
//                                   and SIGUSR1 changes its colour (and
//                                   back again)
//   On GNOME, run, active-class and pointer ask as the agent: they take its
//   bus name (quorin.driver.velt), as the agent's extension answers no one
//   else.
//   velt-desktop-probe active-class prints the class of the active window as
//                                   the presentation keys see it (on GNOME
//                                   Shell in Wayland: from the agent's
//                                   extension), or "none"
//   velt-desktop-probe pointer      prints where the pointer is as the pointer
//                                   anchor records it (GNOME Shell in Wayland:
//                                   from the agent's extension), or "none"
//   velt-desktop-probe check spotlight|dot|magnifier|clear|pattern|recoloured
//                      PLAIN SHOT MX MY MW MH PX PY SIZE
//                                   checks the overlay in the picture SHOT
//                                   against PLAIN, the same screen without it:
//                                   on monitor (MX, MY, MW, MH), pointer at
//                                   (PX, PY), hole or lens size SIZE
//                                   (recoloured: the pattern after SIGUSR1)
//   velt-desktop-probe grab FILE    a PNG picture of the X11 screen
//   velt-desktop-probe kwin-shot FILE [X Y W H]
//                                   a PNG picture of KWin's first output, or
//                                   of that area (ScreenShot2, as the agent
//                                   takes them)
//   velt-desktop-probe kwin-windows prints KWin's windows, a line each:
//                                   "CLASS TYPE active|-"
//                                   (tests/desktop/kwin_windows.h)
//   velt-desktop-probe kwin-input   moves and clicks KWin's pointer as a
//                                   device would, as standard input says
//                                   (tests/desktop/kwin_input.h)
//   velt-desktop-probe look FILE X Y spotlight|dot|magnifier|clear
//                      [recoloured|lens-recoloured]
//                                   the same check of the picture FILE of one
//                                   monitor filled by the test pattern (or the
//                                   recoloured one, or one recoloured only in
//                                   the lens), pointer at (X, Y), size 310,
//                                   that may show the pointer's arrow
#include <sys/signalfd.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "actions/desktop_commands.h"
#include "core/clock.h"
#include "platform/gnome/gnome_shell_session.h"
#include "platform/kwin/kwin_bridge.h"
#include "platform/process/qt_main_thread.h"
#include "platform/session/qt_desktop_session.h"
#include "platform/x11/x11_session.h"
#include "tests/desktop/kwin_input.h"
#include "tests/desktop/kwin_windows.h"
#include "tests/desktop/overlay_picture.h"

namespace {

int usage() {
  std::fprintf(
      stderr,
      "usage: velt-desktop-probe run CODE | window NAME [fullscreen] | active-class | pointer |\n"
      "       check MODE PLAIN SHOT MX MY MW MH PX PY SIZE | look FILE X Y MODE | grab FILE |\n"
      "       kwin-shot FILE [X Y W H] | kwin-input | kwin-windows\n");
  return 2;
}

class ProbeWindow : public QRasterWindow {
 public:
  // signalFd: a signalfd for SIGUSR1, which switches the pattern's colour.
  ProbeWindow(bool pattern, int signalFd)
      : pattern_(pattern), recolour_(signalFd, QSocketNotifier::Read) {
    QObject::connect(&recolour_, &QSocketNotifier::activated, [this, signalFd] {
      signalfd_siginfo info;
      if (read(signalFd, &info, sizeof info) != sizeof info) return;
      blue_ =
          blue_ == velt::rig::kPatternBlue ? velt::rig::kRecolouredBlue : velt::rig::kPatternBlue;
      update();
    });
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!pattern_) return;
    QPainter(this).drawImage(0, 0, velt::rig::patternPicture(size(), blue_));
  }
  void mousePressEvent(QMouseEvent* event) override {
    std::printf("clicked %d %d\n", qRound(event->position().x()), qRound(event->position().y()));
    std::fflush(stdout);
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    announceOnceShown();
  }
  void resizeEvent(QResizeEvent* event) override {
    QRasterWindow::resizeEvent(event);
    announceOnceShown();
  }
  // A full-screen window once it fills the screen.
  void announceOnceShown() {
    if (isExposed() && !announced_ && (!pattern_ || size() == screen()->size())) {
      announced_ = true;
      std::printf("shown\n");
      std::fflush(stdout);
    }
  }

 private:
  bool pattern_;
  QSocketNotifier recolour_;
  int blue_ = velt::rig::kPatternBlue;
  bool announced_ = false;
};

// Prints the judgement of p in mode; exit status 0 when right.
int judge(const std::string& mode, const velt::rig::OverlayPicture& p) {
  if (p.plain.isNull() || p.shot.isNull()) {
    std::printf("cannot read the pictures\n");
    return 1;
  }
  static const std::map<std::string, QString (*)(const velt::rig::OverlayPicture&)> checks = {
      {"spotlight", velt::rig::checkSpotlight},
      {"dot", velt::rig::checkPointerDot},
      {"magnifier", velt::rig::checkMagnifier},
      {"clear", velt::rig::checkClear},
      {"pattern", velt::rig::checkPattern}};
  auto found = checks.find(mode);
  if (found == checks.end()) return usage();
  QString wrong = found->second(p);
  std::printf("%s: %s\n", mode.c_str(), wrong.isEmpty() ? "right" : wrong.toUtf8().constData());
  return wrong.isEmpty() ? 0 : 1;
}

QImage rgb(const char* file) {
  return QImage(file).convertToFormat(QImage::Format_RGB32);
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
  if (command == "kwin-input" && argc == 2) return velt::kwinInput();
  if (command == "kwin-windows" && argc == 2) {
    QCoreApplication app(argc, argv);
    return velt::kwinWindows();
  }
  // The judge needs no display: under a busy desktop a connection to it
  // would only slow the desktop further, and may be refused.
  if (command == "check" && argc == 12) {
    QCoreApplication app(argc, argv);
    const bool recoloured = std::string(argv[2]) == "recoloured";
    velt::rig::OverlayPicture picture{
        rgb(argv[3]), rgb(argv[4]),
        QRect(std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8])),
        QPoint(std::atoi(argv[9]), std::atoi(argv[10])), std::atoi(argv[11])};
    if (recoloured) picture.blue = velt::rig::kRecolouredBlue;
    return judge(recoloured ? "pattern" : argv[2], picture);
  }
  const std::string recolour = argc == 7 ? argv[6] : "";
  if (command == "look" &&
      (argc == 6 || recolour == "recoloured" || recolour == "lens-recoloured")) {
    QCoreApplication app(argc, argv);
    QImage shot = rgb(argv[2]);
    const QPoint pointer(std::atoi(argv[3]), std::atoi(argv[4]));
    QImage plain =
        recolour == "lens-recoloured"
            ? velt::rig::patternRecolouredInLens(shot.size(), pointer, 310)
            : velt::rig::patternPicture(shot.size(), recolour.empty() ? velt::rig::kPatternBlue
                                                                      : velt::rig::kRecolouredBlue);
    return judge(argv[5], {plain, shot, shot.rect(), pointer, 310, true});
  }
  const bool fullscreen = command == "window" && argc == 4 && std::string(argv[3]) == "fullscreen";
  int signalFd = -1;
  if (command == "window" && (argc == 3 || fullscreen)) {
    // Blocked before Qt starts its threads, so that only the signalfd sees it.
    sigset_t recolour;
    sigemptyset(&recolour);
    sigaddset(&recolour, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &recolour, nullptr);
    signalFd = signalfd(-1, &recolour, SFD_CLOEXEC);
    // X11 takes the window's class from the application name, Wayland its
    // app id from the desktop file name.
    QCoreApplication::setApplicationName(argv[2]);
    QGuiApplication::setDesktopFileName(argv[2]);
  }
  QGuiApplication app(argc, argv);
  velt::QtMainThread mainThread;
  velt::X11Session x11(velt::systemClock());
  // The agent's extension answers the agent alone: the probe asks as the
  // agent, when no agent runs.
  if ((command == "run" || command == "pointer" || command == "active-class") &&
      qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME"))) {
    QDBusConnection::sessionBus().registerService(QStringLiteral("quorin.driver.velt"));
  }

  if (command == "active-class" && gnomeShellWayland()) {
    velt::GnomeShellSession shell;
    QObject::connect(&shell, &velt::GnomeShellSession::focusChanged, [&shell] {
      auto active = shell.activeWindowClass();
      std::printf("%s\n", active ? active->className.c_str() : "none");
      QCoreApplication::quit();
    });
    // Not told (the extension answers the agent alone, and one runs): none.
    QTimer::singleShot(5000, [] {
      std::printf("none\n");
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
  if (command == "grab" && argc == 3) {
    std::string reason;
    auto picture = x11.grabScreen(reason);
    if (picture.pixels.empty()) {
      std::fprintf(stderr, "no picture: %s\n", reason.c_str());
      return 1;
    }
    QImage image(picture.pixels.data(), picture.width, picture.height, picture.width * 4,
                 QImage::Format_RGB32);
    return image.save(argv[2], "PNG") ? 0 : 1;
  }
  if (command == "kwin-shot" && (argc == 3 || argc == 7)) {
    QString reason;
    const QRect area = argc == 7 ? QRect(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                         std::atoi(argv[6]))
                                 : QGuiApplication::primaryScreen()->geometry();
    QImage image = velt::KWinBridge::captureArea(area, reason);
    if (image.isNull()) {
      std::fprintf(stderr, "no picture: %s\n", reason.toUtf8().constData());
      return 1;
    }
    return image.save(argv[2], "PNG") ? 0 : 1;
  }
  if (command == "window") {
    ProbeWindow window(fullscreen, signalFd);
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
