// How long the overlay takes to follow the pointer on a real desktop, and
// the pointer motion to measure the agent's CPU use by. Runs inside
// tests/desktop/desktop_rig.sh beside the agent, with the probe's full-screen
// pattern under the spotlight (tools/bench/overlay_bench.sh drives it).
//
//   velt-overlay-lag-bench lag COUNT      moves the pointer COUNT times between
//                                         two places and prints, for each, the
//                                         time from the move to the first
//                                         picture of the screen with the hole
//                                         at the new place
//   velt-overlay-lag-bench motion SECONDS moves the pointer round a circle,
//                                         125 steps a second
//
// The desktop (VELT_RIG_DESKTOP) moves the pointer and takes the pictures:
// sway through a virtual pointer and wlr-screencopy, whose frames carry the
// time they were shown; KWin through its fake input and ScreenShot2 (the
// time its answer came, so an upper bound); X11 through XTest (xdotool) and
// the root window.
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "platform/kwin/kwin_bridge.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_screencopy.h"
#include "platform/x11/x11_session.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

QRgb patternAt(int x, int y) {
  return qRgb(x & 255, y & 255, ((x >> 8) & 7) << 5 | ((y >> 8) & 7) << 2);
}
// The pattern shows undimmed at p.
bool clearAt(const QImage& image, QPoint p) {
  if (!image.rect().contains(p)) return false;
  QRgb c = image.pixel(p), want = patternAt(p.x(), p.y());
  return std::abs(qRed(c) - qRed(want)) <= 6 && std::abs(qGreen(c) - qGreen(want)) <= 6;
}

struct Picture {
  QImage image;
  Clock::time_point shown;
};

// What a desktop offers the bench.
class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual bool move(QPoint to) = 0;
  virtual Picture picture() = 0;
};

// sway and other wlroots compositors, over the overlay's own connection.
class Wlroots : public Desktop {
 public:
  Wlroots() : connection_(velt::WaylandConnection::connect(nullptr)) {
    if (!connection_ || !connection_->bindGlobals()) {
      connection_.reset();
      return;
    }
    const auto& g = connection_->globals();
    if (g.virtualPointers && g.seat) {
      pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.virtualPointers, g.seat);
    }
    wl_display_roundtrip(connection_->display());
  }
  bool usable() const {
    return connection_ && pointer_ && connection_->globals().screencopy &&
           connection_->globals().shm && !connection_->outputs().empty();
  }

  bool move(QPoint to) override {
    const QSize size = QGuiApplication::primaryScreen()->size();
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, now(), to.x(), to.y(), size.width(),
                                            size.height());
    zwlr_virtual_pointer_v1_frame(pointer_);
    return wl_display_flush(connection_->display()) >= 0;
  }

  Picture picture() override {
    const auto& g = connection_->globals();
    auto picture =
        velt::captureOutput(g.screencopy, g.shm, connection_->outputs().front()->output,
                            [this](std::function<bool()> done) {
                              return connection_->dispatchUntil(done, std::chrono::seconds(2));
                            });
    if (!picture) return {};
    return {picture->image, picture->shown};
  }

 private:
  static uint32_t now() {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
  }
  std::unique_ptr<velt::WaylandConnection> connection_;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
};

// Runs a program and waits for it.
bool run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// KWin: its fake input through the probe's kwin-input, its screenshots.
class KWin : public Desktop {
 public:
  explicit KWin(std::string probe) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string command = "kwin-input";
    char* argv[] = {probe.data(), command.data(), nullptr};
    if (posix_spawn(&pid_, probe.c_str(), &actions, nullptr, argv, environ) == 0) {
      toProbe_ = fdopen(in[1], "w");
      fromProbe_ = fdopen(out[0], "r");
    }
    close(in[0]);
    close(out[1]);
  }
  bool move(QPoint to) override {
    if (!toProbe_) return false;
    std::fprintf(toProbe_, "move %d %d\n", to.x(), to.y());
    std::fflush(toProbe_);
    char reply[64] = {};
    return std::fgets(reply, sizeof reply, fromProbe_) && std::strncmp(reply, "ok", 2) == 0;
  }
  Picture picture() override {
    QString reason;
    QImage image =
        velt::KWinBridge::captureArea(QGuiApplication::primaryScreen()->geometry(), reason);
    return {image, Clock::now()};
  }

 private:
  pid_t pid_ = 0;
  FILE* toProbe_ = nullptr;
  FILE* fromProbe_ = nullptr;
};

class X11 : public Desktop {
 public:
  bool move(QPoint to) override {
    auto at = x11_.pointerPosition();
    if (!at) return false;
    return run({"xdotool", "mousemove_relative", "--", std::to_string(to.x() - int(at->x)),
                std::to_string(to.y() - int(at->y))});
  }
  Picture picture() override {
    std::string reason;
    auto shot = x11_.grabScreen(reason);
    const auto taken = Clock::now();
    QImage image(shot.pixels.data(), shot.width, shot.height, shot.width * 4, QImage::Format_RGB32);
    return {image.copy(), taken};
  }

 private:
  velt::X11Session x11_{velt::systemClock()};
};

int lag(Desktop& desktop, int count) {
  const QSize size = QGuiApplication::primaryScreen()->size();
  const QPoint places[] = {QPoint(size.width() / 3, size.height() / 3),
                           QPoint(size.width() * 2 / 3, size.height() * 2 / 3)};
  std::vector<double> lags;
  desktop.move(places[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < count; ++i) {
    const QPoint to = places[i % 2];
    const QPoint from = places[(i + 1) % 2];
    const auto moved = Clock::now();
    if (!desktop.move(to)) {
      std::printf("cannot move the pointer\n");
      return 1;
    }
    bool seen = false;
    while (Clock::now() - moved < std::chrono::seconds(2)) {
      Picture p = desktop.picture();
      // The hole is where the pointer went, and gone from where it was.
      if (clearAt(p.image, to - QPoint(12, 12)) && !clearAt(p.image, from - QPoint(12, 12))) {
        lags.push_back(Ms(p.shown - moved).count());
        seen = true;
        break;
      }
    }
    if (!seen) {
      std::printf("move %d: the hole did not follow within 2 s\n", i);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::sort(lags.begin(), lags.end());
  double sum = 0;
  for (double l : lags) sum += l;
  std::printf("pointer-to-overlay lag over %d moves: median %.1f ms, mean %.1f ms, max %.1f ms\n",
              count, lags[lags.size() / 2], sum / lags.size(), lags.back());
  return 0;
}

int motion(Desktop& desktop, double seconds) {
  const QSize size = QGuiApplication::primaryScreen()->size();
  const QPointF centre(size.width() / 2.0, size.height() / 2.0);
  const double radius = size.height() / 4.0;
  const auto start = Clock::now();
  const auto step = std::chrono::milliseconds(8);
  auto next = start;
  int moves = 0;
  while (Ms(Clock::now() - start).count() < seconds * 1000) {
    const double angle = Ms(Clock::now() - start).count() / 1000.0 * 2 * M_PI / 2;
    desktop.move((centre + radius * QPointF(std::cos(angle), std::sin(angle))).toPoint());
    ++moves;
    next += step;
    std::this_thread::sleep_until(next);
  }
  std::printf("moved the pointer %d times in %.1f s\n", moves, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: velt-overlay-lag-bench lag COUNT | motion SECONDS\n");
    return 2;
  }
  const std::string desktopName =
      std::getenv("VELT_RIG_DESKTOP") ? std::getenv("VELT_RIG_DESKTOP") : "";
  std::unique_ptr<Desktop> desktop;
  if (desktopName == "sway") {
    auto wlroots = std::make_unique<Wlroots>();
    if (!wlroots->usable()) {
      std::fprintf(stderr, "sway offers no virtual pointer or screencopy\n");
      return 1;
    }
    desktop = std::move(wlroots);
  } else if (desktopName == "kwin") {
    const char* probe = std::getenv("VELT_PROBE");
    if (!probe) {
      std::fprintf(stderr, "VELT_PROBE names velt-desktop-probe\n");
      return 2;
    }
    desktop = std::make_unique<KWin>(probe);
  } else if (desktopName == "x11") {
    desktop = std::make_unique<X11>();
  } else {
    std::fprintf(stderr, "VELT_RIG_DESKTOP must be sway, kwin or x11\n");
    return 2;
  }
  const std::string what = argv[1];
  if (what == "lag") return lag(*desktop, std::atoi(argv[2]));
  if (what == "motion") return motion(*desktop, std::atof(argv[2]));
  return 2;
}
