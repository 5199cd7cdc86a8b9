// How long the overlay takes to follow the pointer on a real desktop, from
// the pointer's move to the moment the frame with the spotlight's hole at the
// new place is presented, and the pointer motion to measure the agent's CPU
// use by. Runs inside tests/desktop/desktop_rig.sh beside the agent, with
// the spotlight up (tools/bench/overlay_bench.sh drives it).
//
//   velt-overlay-lag-bench lag COUNT      moves the pointer COUNT times between
//                                         two places, at uneven intervals so
//                                         that the moves fall at every point
//                                         of a frame, and prints the lag's
//                                         50th, 95th and 99th percentiles
//                                         beside the output's frame interval
//   velt-overlay-lag-bench motion SECONDS moves the pointer round a circle,
//                                         125 steps a second
//
// Every time is CLOCK_MONOTONIC (std::chrono::steady_clock), taken as the
// bench sends its move. The desktop (VELT_RIG_DESKTOP) decides what
// "presented" means:
//
// - sway (a virtual pointer) and KWin (its fake input, through the probe's
//   kwin-input): the agent, run with VELT_LOG_TIME=1, logs each of its
//   frames as the compositor reports it through wp_presentation, with the
//   pointer position it drew and the presentation time on the compositor's
//   clock; the bench reads that log (VELT_BENCH_AGENT_LOG) and takes the
//   first frame presented with the pointer where it sent it. Frames the
//   compositor discarded are counted, never matched. sway 1.7's headless
//   outputs present nothing (every feedback ends discarded by the next
//   commit); there the lag ends at the frame callback that follows the
//   picture, which sway sends as it composes the output's next frame with
//   the picture in it (millisecond times), and the bench says so.
// - X11 (Xvfb, no compositing manager): the overlay paints straight to the
//   screen, so its frame is presented once the server has drawn it. The
//   bench moves the pointer through XTest and watches the overlay window
//   with the Damage extension: the lag ends as the first damage event
//   covering the new place arrives. That leaves out what a real screen
//   would add (Xvfb has no refresh to wait for: up to one refresh interval
//   until scan-out) and counts the event's trip to the bench (well under a
//   millisecond here). The X11 overlay asks for no Present completion
//   events: Qt paints it through its own backing store.
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/wayland_connection.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC
using Ms = std::chrono::duration<double, std::milli>;

struct Frame {
  Clock::time_point presented;
  double refreshMs = 0;  // 0: the desktop has no refresh
};

// What a desktop offers the bench.
class Desktop {
 public:
  virtual ~Desktop() = default;
  // Moves the pointer; where it went (a desktop may take a move as a hint).
  virtual std::optional<QPoint> move(QPoint to) = 0;
  // Forgets the frames seen so far.
  virtual void drain() = 0;
  // The first frame presented after now that shows the pointer at p, within
  // two seconds.
  virtual std::optional<Frame> frameShowing(QPoint p) = 0;
  // What the lag's end was.
  virtual std::string how() const = 0;
  // The frame interval where no frame gave one.
  virtual const char* noInterval() const {
    return "none (the compositor gives no refresh interval; sway's headless outputs have none)";
  }
  int discarded = 0;
};

// The agent's log of its presented frames (VELT_LOG_TIME=1), read as it
// grows.
class FrameLog {
 public:
  explicit FrameLog(const char* path) : in_(path ? path : "") { in_.seekg(0, std::ios::end); }
  bool usable() const { return in_.is_open(); }

  struct Line {
    enum Kind { kPresented, kDone, kDiscarded } kind = kDiscarded;
    Frame frame;
    QPointF pointer;
  };
  // The next frame line, waiting until deadline for one.
  std::optional<Line> next(Clock::time_point deadline) {
    std::string text;
    while (true) {
      std::getline(in_, text);
      if (!in_.eof() && !in_.fail()) {
        std::optional<Line> line = parse(pending_ + text);
        pending_.clear();
        if (line) return line;
        continue;
      }
      // A line not yet finished stays for the next read.
      pending_ += text;
      in_.clear();
      if (Clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

 private:
  static std::optional<Line> parse(const std::string& text) {
    Line line;
    unsigned long long seconds = 0;
    unsigned nanoseconds = 0;
    double x = 0, y = 0;
    if (auto at = text.find("overlay: frame presented at "); at != std::string::npos) {
      if (std::sscanf(text.c_str() + at,
                      "overlay: frame presented at %llu.%u s, refresh %lf ms, pointer %lf,%lf",
                      &seconds, &nanoseconds, &line.frame.refreshMs, &x, &y) != 5) {
        return std::nullopt;
      }
      line.kind = Line::kPresented;
      line.frame.presented =
          Clock::time_point(std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds));
    } else if (auto at = text.find("overlay: frame done at "); at != std::string::npos) {
      if (std::sscanf(text.c_str() + at,
                      "overlay: frame done at %llu.%u s, refresh %lf ms, pointer %lf,%lf", &seconds,
                      &nanoseconds, &line.frame.refreshMs, &x, &y) != 5) {
        return std::nullopt;
      }
      line.kind = Line::kDone;
      line.frame.presented =
          Clock::time_point(std::chrono::seconds(seconds) + std::chrono::milliseconds(nanoseconds));
    } else if (auto at = text.find("overlay: frame discarded, pointer "); at != std::string::npos) {
      if (std::sscanf(text.c_str() + at, "overlay: frame discarded, pointer %lf,%lf", &x, &y) !=
          2) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
    line.pointer = QPointF(x, y);
    return line;
  }

  std::ifstream in_;
  std::string pending_;
};

// sway and KWin: the frames come from the agent's log.
class WaylandDesktop : public Desktop {
 public:
  WaylandDesktop() : log_(std::getenv("VELT_BENCH_AGENT_LOG")) {}
  bool logUsable() const { return log_.usable(); }

  void drain() override {
    while (auto line = log_.next(Clock::now())) count(*line);
  }
  // The frame presented, or where the compositor presents nothing (none
  // presented so far), the frame whose callback came first.
  std::optional<Frame> frameShowing(QPoint p) override {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (auto line = log_.next(deadline)) {
      count(*line);
      const bool there =
          std::abs(line->pointer.x() - p.x()) <= 1 && std::abs(line->pointer.y() - p.y()) <= 1;
      if (!there || line->kind == FrameLog::Line::kDiscarded) continue;
      if (line->kind == FrameLog::Line::kPresented || !presentedAny_) {
        ++(line->kind == FrameLog::Line::kPresented ? presented_ : done_);
        return line->frame;
      }
    }
    return std::nullopt;
  }
  std::string how() const override {
    if (!done_) return "the compositor's presentation times";
    return std::to_string(done_) +
           " moves timed by the frame callback after the picture (the compositor presented no "
           "frame)";
  }

 private:
  void count(const FrameLog::Line& line) {
    discarded += line.kind == FrameLog::Line::kDiscarded;
    presentedAny_ = presentedAny_ || line.kind == FrameLog::Line::kPresented;
  }
  FrameLog log_;
  bool presentedAny_ = false;
  int presented_ = 0, done_ = 0;
};

// sway and other wlroots compositors: a virtual pointer.
class Wlroots : public WaylandDesktop {
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
  bool usable() const { return connection_ && pointer_; }

  std::optional<QPoint> move(QPoint to) override {
    const QSize size = QGuiApplication::primaryScreen()->size();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, static_cast<uint32_t>(ms.count()), to.x(),
                                            to.y(), size.width(), size.height());
    zwlr_virtual_pointer_v1_frame(pointer_);
    if (wl_display_flush(connection_->display()) < 0) return std::nullopt;
    return to;
  }

 private:
  std::unique_ptr<velt::WaylandConnection> connection_;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
};

// KWin: its fake input through the probe's kwin-input.
class KWin : public WaylandDesktop {
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
  std::optional<QPoint> move(QPoint to) override {
    if (!toProbe_) return std::nullopt;
    std::fprintf(toProbe_, "move %d %d\n", to.x(), to.y());
    std::fflush(toProbe_);
    char reply[64] = {};
    if (!std::fgets(reply, sizeof reply, fromProbe_) || std::strncmp(reply, "ok", 2) != 0) {
      return std::nullopt;
    }
    return to;
  }

 private:
  pid_t pid_ = 0;
  FILE* toProbe_ = nullptr;
  FILE* fromProbe_ = nullptr;
};

// X11: XTest moves, and the Damage extension on the overlay window, spoken
// through xcb's own request layer (the bench needs two requests of each).
class X11 : public Desktop {
 public:
  X11() : c_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    damage_ = extension(damageExt_);
    xtest_ = extension(xtestExt_);
    if (!damage_ || !xtest_) return;
    // The Damage extension answers nothing before its version is asked.
    struct {
      uint8_t major, minor;
      uint16_t length;
      uint32_t wantMajor = 1, wantMinor = 1;
    } version{};
    free(xcb_wait_for_reply(c_, send(damageExt_, 0, false, &version, sizeof version), nullptr));
    window_ = overlayWindow();
    if (!window_) return;
    struct {
      uint8_t major, minor;
      uint16_t length;
      uint32_t damage, drawable;
      uint8_t level = 0;  // every rectangle, as it is drawn
      uint8_t pad[3] = {};
    } create{};
    create.damage = xcb_generate_id(c_);
    create.drawable = window_;
    send(damageExt_, 1, true, &create, sizeof create);
    xcb_flush(c_);
  }
  ~X11() override { xcb_disconnect(c_); }
  bool usable() const { return window_ != 0; }

  std::optional<QPoint> move(QPoint to) override {
    const std::optional<QPoint> at = pointer();
    if (!at) return std::nullopt;
    struct {
      uint8_t major, minor;
      uint16_t length;
      uint8_t type = XCB_MOTION_NOTIFY;
      uint8_t relative = 1;  // a device's motion, as a mouse makes it
      uint16_t pad0 = 0;
      uint32_t time = 0, root = 0, pad1 = 0, pad2 = 0;
      int16_t x, y;
      uint32_t pad3 = 0;
      uint16_t pad4 = 0;
      uint8_t pad5 = 0, device = 0;
    } input{};
    input.x = static_cast<int16_t>(to.x() - at->x());
    input.y = static_cast<int16_t>(to.y() - at->y());
    send(xtestExt_, 2, true, &input, sizeof input);
    xcb_flush(c_);
    // The server's pointer acceleration may take it elsewhere: asked after
    // the move, so the reply's wait is not counted.
    return pointer();
  }
  void drain() override {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) free(event);
  }
  std::optional<Frame> frameShowing(QPoint p) override {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < deadline) {
      xcb_generic_event_t* event = xcb_poll_for_event(c_);
      if (!event) {
        pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
        poll(&fd, 1, 5);
        continue;
      }
      const auto arrived = Clock::now();
      bool covers = false;
      if ((event->response_type & 0x7f) == damage_->first_event) {
        // DamageNotify: drawable, damage, timestamp, then the area.
        const auto* raw = reinterpret_cast<const uint8_t*>(event);
        int16_t x, y;
        uint16_t w, h;
        std::memcpy(&x, raw + 16, 2);
        std::memcpy(&y, raw + 18, 2);
        std::memcpy(&w, raw + 20, 2);
        std::memcpy(&h, raw + 22, 2);
        covers = QRect(x, y, w, h).translated(windowAt_).contains(p);
      }
      free(event);
      if (covers) return Frame{arrived, 0};
    }
    return std::nullopt;
  }
  std::string how() const override { return "the damage events of the overlay window"; }
  const char* noInterval() const override {
    return "none (no refresh; the overlay redraws at most every 18 ms)";
  }

 private:
  const xcb_query_extension_reply_t* extension(xcb_extension_t& ext) {
    const xcb_query_extension_reply_t* reply = xcb_get_extension_data(c_, &ext);
    return reply && reply->present ? reply : nullptr;
  }
  // request's first four bytes are filled in by xcb.
  unsigned send(xcb_extension_t& ext, uint8_t opcode, bool isVoid, void* request, size_t size) {
    iovec parts[3];
    parts[2].iov_base = request;
    parts[2].iov_len = size;
    xcb_protocol_request_t what{1, &ext, opcode, isVoid ? uint8_t{1} : uint8_t{0}};
    return xcb_send_request(c_, 0, parts + 2, &what);
  }
  std::optional<QPoint> pointer() {
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr);
    if (!reply) return std::nullopt;
    const QPoint at(reply->root_x, reply->root_y);
    free(reply);
    return at;
  }
  // The topmost override-redirect window mapped over the whole screen.
  xcb_window_t overlayWindow() {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
    if (!tree) return 0;
    const QSize screen = QGuiApplication::primaryScreen()->size();
    xcb_window_t found = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = xcb_query_tree_children_length(tree) - 1; i >= 0 && !found; --i) {
      auto* attributes =
          xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, children[i]), nullptr);
      auto* geometry = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, children[i]), nullptr);
      if (attributes && geometry && attributes->override_redirect &&
          attributes->map_state == XCB_MAP_STATE_VIEWABLE && geometry->width >= screen.width() &&
          geometry->height >= screen.height()) {
        found = children[i];
        windowAt_ = QPoint(geometry->x, geometry->y);
      }
      free(attributes);
      free(geometry);
    }
    free(tree);
    return found;
  }

  xcb_connection_t* c_;
  xcb_window_t root_ = 0;
  xcb_window_t window_ = 0;
  QPoint windowAt_;
  xcb_extension_t damageExt_{"DAMAGE", 0};
  xcb_extension_t xtestExt_{"XTEST", 0};
  const xcb_query_extension_reply_t* damage_ = nullptr;
  const xcb_query_extension_reply_t* xtest_ = nullptr;
};

double percentile(const std::vector<double>& sorted, double p) {
  const size_t i = static_cast<size_t>(std::ceil(p / 100 * sorted.size()));
  return sorted[std::clamp<size_t>(i, 1, sorted.size()) - 1];
}

int lag(Desktop& desktop, int count) {
  const QSize size = QGuiApplication::primaryScreen()->size();
  const QPoint places[] = {QPoint(size.width() / 3, size.height() / 3),
                           QPoint(size.width() * 2 / 3, size.height() * 2 / 3)};
  std::vector<double> lags;
  std::vector<double> refresh;
  desktop.move(places[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  uint32_t uneven = 12345;
  for (int i = 0; i < count; ++i) {
    desktop.drain();
    const auto moved = Clock::now();
    const std::optional<QPoint> at = desktop.move(places[i % 2]);
    if (!at) {
      std::printf("cannot move the pointer\n");
      return 1;
    }
    const std::optional<Frame> frame = desktop.frameShowing(*at);
    if (!frame) {
      std::printf("move %d: no frame showed the pointer at %d,%d within 2 s\n", i, at->x(),
                  at->y());
      return 1;
    }
    lags.push_back(Ms(frame->presented - moved).count());
    if (frame->refreshMs > 0) refresh.push_back(frame->refreshMs);
    // 40 to 80 ms: every phase of a 60 Hz frame.
    uneven = uneven * 1103515245 + 12345;
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + (uneven >> 16) % 41));
  }
  std::sort(lags.begin(), lags.end());
  std::sort(refresh.begin(), refresh.end());
  char interval[128];
  if (refresh.empty()) {
    std::snprintf(interval, sizeof interval, "%s", desktop.noInterval());
  } else {
    std::snprintf(interval, sizeof interval, "%.2f ms", refresh[refresh.size() / 2]);
  }
  std::printf(
      "move-to-presented lag over %d moves: p50 %.1f ms, p95 %.1f ms, p99 %.1f ms, max %.1f ms; "
      "frame interval %s; %d frames discarded; through %s\n",
      count, percentile(lags, 50), percentile(lags, 95), percentile(lags, 99), lags.back(),
      interval, desktop.discarded, desktop.how().c_str());
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
  const std::string what = argv[1];
  const std::string desktopName =
      std::getenv("VELT_RIG_DESKTOP") ? std::getenv("VELT_RIG_DESKTOP") : "";
  std::unique_ptr<Desktop> desktop;
  if (desktopName == "sway") {
    auto wlroots = std::make_unique<Wlroots>();
    if (!wlroots->usable()) {
      std::fprintf(stderr, "sway offers no virtual pointer\n");
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
    auto x11 = std::make_unique<X11>();
    if (!x11->usable()) {
      std::fprintf(stderr, "no overlay window, or the X server lacks Damage or XTest\n");
      return 1;
    }
    desktop = std::move(x11);
  } else {
    std::fprintf(stderr, "VELT_RIG_DESKTOP must be sway, kwin or x11\n");
    return 2;
  }
  if (what == "lag" && desktopName != "x11" &&
      !static_cast<WaylandDesktop&>(*desktop).logUsable()) {
    std::fprintf(stderr, "VELT_BENCH_AGENT_LOG names the agent's log (VELT_LOG_TIME=1)\n");
    return 2;
  }
  if (what == "lag") return lag(*desktop, std::atoi(argv[2]));
  if (what == "motion") return motion(*desktop, std::atof(argv[2]));
  return 2;
}
