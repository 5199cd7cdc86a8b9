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
//   velt-desktop-probe check spotlight|dot|magnifier|clear|pattern PLAIN SHOT
//                      MX MY MW MH PX PY SIZE
//                                   checks the overlay in the picture SHOT
//                                   against PLAIN, the same screen without it:
//                                   on monitor (MX, MY, MW, MH), pointer at
//                                   (PX, PY), hole or lens size SIZE
//   velt-desktop-probe pattern NAME a full-screen window of that class or app
//                                   id showing a pattern whose every pixel
//                                   tells where it is; prints "shown", then
//                                   "click X Y" for each button press on it
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
//   velt-desktop-probe look FILE X Y spotlight|dot|lens|none [SIZE]
//                                   whether the picture FILE shows the overlay
//                                   in that mode around the pointer at X, Y
//                                   over the pattern (or nothing of it); prints
//                                   what it found, exit status 0 when right
#include <QDBusConnection>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>
#include <cmath>
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
      "       check MODE PLAIN SHOT MX MY MW MH PX PY SIZE | pattern NAME | grab FILE |\n"
      "       kwin-shot FILE [X Y W H] | kwin-input | kwin-windows | look FILE X Y MODE [SIZE]\n");
  return 2;
}

// The pattern: red and green are x and y modulo 256, blue holds how many
// 256s each has, so every pixel within 2048 x 2048 says where it is.
QRgb patternAt(int x, int y) {
  return qRgb(x & 255, y & 255, ((x >> 8) & 7) << 5 | ((y >> 8) & 7) << 2);
}
QPoint whereFrom(QRgb c) {
  return {qRed(c) + 256 * (qBlue(c) >> 5), qGreen(c) + 256 * ((qBlue(c) >> 2) & 7)};
}
bool isPattern(const QImage& image, QPoint at, int tolerance = 3) {
  QRgb c = image.pixel(at), want = patternAt(at.x(), at.y());
  return std::abs(qRed(c) - qRed(want)) <= tolerance &&
         std::abs(qGreen(c) - qGreen(want)) <= tolerance &&
         std::abs(qBlue(c) - qBlue(want)) <= tolerance;
}
// The pattern under black of alpha 0.8.
bool isDimmed(const QImage& image, QPoint at) {
  QRgb c = image.pixel(at), want = patternAt(at.x(), at.y());
  return std::abs(qRed(c) - qRed(want) / 5) <= 3 && std::abs(qGreen(c) - qGreen(want) / 5) <= 3 &&
         std::abs(qBlue(c) - qBlue(want) / 5) <= 3;
}

// Judges a picture of the screen: the overlay in mode around p, over the
// full-screen pattern. Where the desktop draws the pointer into its pictures
// the arrow covers the pixels right of and below p, so the checks look a
// few pixels up and to the left of it.
int look(const QImage& image, QPoint pointer, const std::string& mode, int size) {
  const QPoint p = pointer;
  const QPoint beside = p - QPoint(12, 12);
  auto bad = [&](const std::string& why) {
    std::printf("bad: %s (pointer %d,%d; picture %dx%d)\n", why.c_str(), p.x(), p.y(),
                image.width(), image.height());
    return 1;
  };
  if (image.isNull()) return bad("no picture");
  const QRect screen = image.rect();
  // Points far from the pointer: the screen's corners and centre.
  std::vector<QPoint> far;
  for (QPoint q : {QPoint(5, 5), QPoint(screen.width() - 6, 5), QPoint(5, screen.height() - 6),
                   QPoint(screen.width() - 6, screen.height() - 6), screen.center()}) {
    if ((q - p).manhattanLength() > size + 40) far.push_back(q);
  }
  if (mode == "none" || mode == "dot" || mode == "lens") {
    for (QPoint q : far) {
      if (!isPattern(image, q))
        return bad("the pattern does not show at " + std::to_string(q.x()) + "," +
                   std::to_string(q.y()));
    }
  }
  if (mode == "none") {
    if (!isPattern(image, beside)) return bad("something covers the pointer");
    std::printf("ok: nothing of the overlay\n");
    return 0;
  }
  if (mode == "spotlight") {
    for (QPoint q : far) {
      if (!isDimmed(image, q))
        return bad("not dimmed at " + std::to_string(q.x()) + "," + std::to_string(q.y()));
    }
    if (!isPattern(image, beside)) return bad("the pointer is not in a clear hole");
    // The hole's edges along the lines a little above and left of the pointer.
    auto edge = [&](QPoint step) {
      QPoint q = beside;
      while (screen.contains(q + step) && isPattern(image, q + step, 6)) q += step;
      return q;
    };
    const QPoint left = edge({-1, 0}), right = edge({1, 0}), top = edge({0, -1}),
                 bottom = edge({0, 1});
    const double cx = (left.x() + right.x()) / 2.0, cy = (top.y() + bottom.y()) / 2.0;
    std::printf("hole %d..%d x %d..%d, centre %.1f,%.1f\n", left.x(), right.x(), top.y(),
                bottom.y(), cx, cy);
    if (std::abs(cx - p.x()) > 2 || std::abs(cy - p.y()) > 2)
      return bad("the hole is off the pointer");
    if (std::abs(right.x() - left.x() + 1 - size) > 4)
      return bad("the hole is not " + std::to_string(size) + " wide");
    if (!isDimmed(image, right + QPoint(4, 0)) || !isDimmed(image, left - QPoint(4, 0))) {
      return bad("no dimming beside the hole");
    }
    std::printf("ok: spotlight\n");
    return 0;
  }
  if (mode == "dot") {
    QRgb c = image.pixel(p - QPoint(6, 6));
    if (qRed(c) < 170 || qGreen(c) > 80 || qBlue(c) > 80) return bad("no red dot on the pointer");
    if (!isPattern(image, p + QPoint(30, 0))) return bad("more than a dot");
    std::printf("ok: pointer dot\n");
    return 0;
  }
  if (mode == "lens") {
    // Each point q of the lens shows the pattern at (q + p) / 2.
    const int lens = size / 8 * 8;
    int checked = 0;
    for (int d = -(lens / 2 - 12); d <= lens / 2 - 12; d += 9) {
      for (QPoint q : {p + QPoint(d, -12), p + QPoint(-12, d)}) {
        if (!screen.contains(q)) continue;
        QPoint shown = whereFrom(image.pixel(q));
        QPointF expected = QPointF(q + p) / 2;
        if (std::abs(shown.x() - expected.x()) > 2 || std::abs(shown.y() - expected.y()) > 2) {
          return bad("the lens at " + std::to_string(q.x()) + "," + std::to_string(q.y()) +
                     " shows " + std::to_string(shown.x()) + "," + std::to_string(shown.y()));
        }
        ++checked;
      }
    }
    if (!isPattern(image, p + QPoint(lens / 2 + 20, 0)) &&
        screen.contains(p + QPoint(lens / 2 + 20, 0))) {
      return bad("more than the lens");
    }
    std::printf("ok: lens, %d points enlarged twice about the pointer\n", checked);
    return 0;
  }
  return bad("unknown mode " + mode);
}

class PatternWindow : public QRasterWindow {
 protected:
  void paintEvent(QPaintEvent*) override {
    QImage image(size(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) line[x] = patternAt(x, y);
    }
    QPainter(this).drawImage(0, 0, image);
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    announceOnceFullScreen();
  }
  void resizeEvent(QResizeEvent* event) override {
    QRasterWindow::resizeEvent(event);
    announceOnceFullScreen();
  }
  void announceOnceFullScreen() {
    if (isExposed() && !announced_ && size() == screen()->size()) {
      announced_ = true;
      std::printf("shown\n");
      std::fflush(stdout);
    }
  }
  void mousePressEvent(QMouseEvent* event) override {
    std::printf("click %d %d\n", event->position().toPoint().x(), event->position().toPoint().y());
    std::fflush(stdout);
  }

 private:
  bool announced_ = false;
};

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
  if (command == "look" && (argc == 6 || argc == 7)) {
    QImage image(argv[2]);
    return look(image.convertToFormat(QImage::Format_RGB32),
                QPoint(std::atoi(argv[3]), std::atoi(argv[4])), argv[5],
                argc == 7 ? std::atoi(argv[6]) : 310);
  }
  if (command == "kwin-input" && argc == 2) return velt::kwinInput();
  if (command == "kwin-windows" && argc == 2) {
    QCoreApplication app(argc, argv);
    return velt::kwinWindows();
  }
  if (command == "check") {
    if (argc != 12) return usage();
    QGuiApplication app(argc, argv);
    return check(argv);
  }
  const bool fullscreen = command == "window" && argc == 4 && std::string(argv[3]) == "fullscreen";
  if ((command == "window" && (argc == 3 || fullscreen)) || (command == "pattern" && argc == 3)) {
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
  if (command == "pattern" && argc == 3) {
    PatternWindow window;
    window.setTitle(argv[2]);
    window.showFullScreen();
    return app.exec();
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
