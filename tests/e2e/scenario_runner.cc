// Guest program: runs a scenario file of tests/e2e/scenarios/ against the
// real agent and virtual mice, a step a line (tests/README.md lists them).
// Each check's marker is named after its line; a line that cannot be read
// ends the run with a failure naming the file and the line.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/serial_queue.h"
#include "platform/input/evdev_takeover.h"
#include "tests/e2e/agent_process.h"
#include "tests/e2e/guest_mice.h"
#include "tests/overlay/overlay_fakes.h"
#include "tools/mouse_sim/sim_commands.h"

namespace velt::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A line that cannot be read, or a step after which nothing can be checked.
using Stop = std::runtime_error;

// Blanks part words, double quotes hold blanks, and a word starting with #
// ends the line.
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  for (size_t at = 0, end; at < line.size(); at = end + 1) {
    if (std::isspace(static_cast<unsigned char>(line[at]))) {
      end = at;
    } else if (line[at] == '#') {
      break;
    } else if (line[at] == '"') {
      end = line.find('"', at + 1);
      if (end == std::string::npos) throw Stop("unclosed quote");
      words.push_back(line.substr(at + 1, end - at - 1));
    } else {
      end = std::min(line.find_first_of(" \t", at), line.size());
      words.push_back(line.substr(at, end - at));
    }
  }
  return words;
}

long number(const std::string& word, int base = 10) {
  char* end = nullptr;
  const long value = std::strtol(word.c_str(), &end, base);
  if (word.empty() || std::isspace(static_cast<unsigned char>(word[0])) || *end) {
    throw Stop("not a number: " + word);
  }
  return value;
}

uint8_t byte(const std::string& word) {
  if (word.size() > 2 || word.starts_with('-')) throw Stop("not a hex byte: " + word);
  return static_cast<uint8_t>(number(word, 16));
}

// An evdev event written CODE:VALUE ("KEY_C:1", "REL_WHEEL:-1").
input_event eventOf(const std::string& word) {
  const size_t colon = word.rfind(':');
  const std::string name = word.substr(0, colon);
  input_event e{};
  const int type = libevdev_event_type_from_code_name(name.c_str());
  const int code = libevdev_event_code_from_code_name(name.c_str());
  if (colon == std::string::npos || type < 0 || code < 0) throw Stop("not an event: " + word);
  e.type = static_cast<uint16_t>(type);
  e.code = static_cast<uint16_t>(code);
  e.value = static_cast<int>(number(word.substr(colon + 1)));
  return e;
}

std::string agentLog() {
  std::ifstream file("/tmp/agent.log");
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The N of each line "device N<tail>" in log, in order.
std::vector<long> handlesOf(const std::string& log, const std::string& tail) {
  std::vector<long> handles;
  for (size_t at = log.find(tail); at != std::string::npos; at = log.find(tail, at + 1)) {
    const size_t start = log.rfind("device ", at);
    if (start != std::string::npos) handles.push_back(std::atol(log.c_str() + start + 7));
  }
  return handles;
}

// Windows on an X server, each with an application's WM_CLASS, made active in
// turn as a window manager does: by setting _NET_ACTIVE_WINDOW on the root.
class XWindows {
 public:
  explicit XWindows(const char* display) : c_(xcb_connect(display, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const char* name = "_NET_ACTIVE_WINDOW";
    auto* reply =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr);
    if (reply) active_ = reply->atom;
    std::free(reply);
  }
  ~XWindows() { xcb_disconnect(c_); }
  bool ok() const { return !xcb_connection_has_error(c_) && active_ != XCB_ATOM_NONE; }
  void open(const std::string& application) {
    const xcb_window_t window = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string instanceAndClass = application + '\0' + application + '\0';
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        instanceAndClass.size(), instanceAndClass.data());
    xcb_map_window(c_, window);
    windows_[application] = window;
  }
  void activate(const std::string& application) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, active_, XCB_ATOM_WINDOW, 32, 1,
                        &windows_.at(application));
    xcb_flush(c_);
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_ = 0;
  xcb_atom_t active_ = XCB_ATOM_NONE;
  std::map<std::string, xcb_window_t> windows_;
};

// The descriptors the process has open on hidraw nodes.
int openHidrawNodes(pid_t pid) {
  int count = 0;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    count += fs::read_symlink(fd.path(), ec).string().starts_with("/dev/hidraw");
  }
  return count;
}

// The agents' virtual keyboards: their event nodes by input device, whose
// numbers, unlike the nodes', are never used again.
std::map<std::string, std::string> keyboards() {
  std::map<std::string, std::string> found;
  std::error_code ec;
  for (const auto& node : eventNodesNamed(kAgentKeyboard)) {
    const auto device =
        fs::read_symlink("/sys/class/input/" + fs::path(node).filename().string() + "/device", ec);
    found[device.filename().string()] = node;
  }
  return found;
}

// The hot-plug soak: mice of every kind plugged and unplugged in quick
// succession, up to three at a time, buttons pressed and often still held
// as the mouse goes. The agent must still run, its open descriptors must not
// grow and its memory must stay flat, no key may stay pressed on its uinput
// devices, and no copy of a grabbed mouse may outlive the mouse.
class Soak {
 public:
  Soak(Markers& markers, RunningAgent& agent, int cycles, unsigned seed)
      : markers_(markers), agent_(agent), cycles_(cycles), seed_(seed), random_(seed) {}

  void run() {
    markers_.note("soak: seed " + std::to_string(seed_) +
                  " (VELT_SOAK_SEED=" + std::to_string(seed_) + " replays it)");
    // One mouse of every kind first, then rounds of random mice. The figures
    // are taken between rounds, with every mouse unplugged; the warm-up
    // rounds (at most half of them) fill what the agent fills once, such as
    // its allocator's arenas; the rest must leave the figures flat.
    const auto models = pluggableMice();
    showEveryModel(models);
    for (const VirtualMouse* m : models) cycle(*m);
    while (!plugged_.empty()) unplugOldest();

    const auto started = Clock::now();
    std::uniform_int_distribution<size_t> pick(0, models.size() - 1);
    std::optional<Usage> before;
    long last = 0, largestStep = 0;
    std::string series;
    const int rounds = (cycles_ + kRoundCycles - 1) / kRoundCycles;
    for (int done = 0, round = 0; done < cycles_ && agent_.process->running(); ++round) {
      // Every other round one mouse stays in throughout, so that the agent
      // has a mouse selected while the others come and go.
      std::unique_ptr<UhidMouse> anchor;
      if (round % 2 == 1) {
        std::string error;
        const VirtualMouse& model = virtualMouse(round % 4 == 1 ? "QR-550" : "QR-450");
        anchor = UhidMouse::plug(model, "anchor" + std::to_string(round), nullptr, &error);
        std::this_thread::sleep_for(seconds(1));
      }
      for (int i = 0; i < kRoundCycles && done < cycles_; ++i, ++done) {
        cycle(*models[pick(random_)]);
      }
      while (!plugged_.empty()) unplugOldest();
      std::this_thread::sleep_for(milliseconds(800));
      countKeys();
      if (anchor) {
        // The buttons held on the mice that went must not stay pressed.
        const auto keys = agent_.keyboard->keysDown();
        if (!keys.empty()) {
          markers_.fail(
              "keys released when held mice go and another stays",
              std::to_string(keys.size()) + " keys down after round " + std::to_string(round));
        }
        anchor.reset();
        std::this_thread::sleep_for(milliseconds(800));
      }
      const Usage now = usage();
      series +=
          (series.empty() ? "" : ", ") + std::to_string(now.fds) + "/" + std::to_string(now.kb);
      if (before) largestStep = std::max(largestStep, now.kb - last);
      last = now.kb;
      if (round == std::min(kWarmUpRounds, rounds / 2) - 1) before = now;
    }
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
    // Lets countdowns and configuration passes finish.
    std::this_thread::sleep_for(seconds(3));
    countKeys();
    agent_.pointer->drain();
    markers_.note("soak: open fds/resident kB after each round: " + series);

    if (!markers_.check(agent_.process->running(), "agent runs after the soak",
                        agent_.process->ending())) {
      throw Stop("the agent ended");
    }
    const Usage after = usage();
    if (!before) before = after;
    char figures[240];
    std::snprintf(figures, sizeof figures,
                  "soak: %d cycles (seed %u) in %lld ms, %zu key events; open fds %d -> %d; "
                  "resident memory %ld kB -> %ld kB",
                  cycles_, seed_, static_cast<long long>(took.count()), keysSeen_, before->fds,
                  after.fds, before->kb, after.kb);
    markers_.note(figures);
    // A fall is no leak; only growth is.
    markers_.check(after.fds <= before->fds, "open file descriptors do not grow", figures);
    const long oneStep = largestStep <= kOneStepKb ? largestStep : 0;
    markers_.check(after.kb - before->kb - oneStep <= kMemoryAllowanceKb, "memory is flat",
                   std::string(figures) + "; largest step " + std::to_string(largestStep) + " kB");
    markers_.check(keysSeen_ > 0, "buttons pressed during the soak reached the agent", figures);
    const auto keys = agent_.keyboard->keysDown();
    const auto buttons = agent_.pointer->keysDown();
    markers_.check(keys.empty() && buttons.empty(), "no key left pressed on the agent's devices",
                   std::to_string(keys.size() + buttons.size()) + " down");
    std::string copies;
    for (const VirtualMouse* m : pluggableMice()) {
      if (!eventNodesNamed("Virtual " + m->model).empty()) copies += " " + m->model;
    }
    markers_.check(copies.empty(), "no copy of a mouse outlives it", "left:" + copies);
  }

 private:
  // Memory may grow by this much once warmed up: the registry keeps a record
  // of every device it has seen.
  static constexpr long kMemoryAllowanceKb = 2048;
  // A leak grows round after round; what fills once (an allocator's arena, a
  // cache of Qt's) comes in one step. One step of up to this much is not
  // counted in the growth.
  static constexpr long kOneStepKb = 4096;
  static constexpr int kRoundCycles = 50;
  static constexpr int kWarmUpRounds = 4;

  struct Usage {
    int fds;
    long kb;
  };

  // Plugs a mouse, maybe presses buttons (and maybe leaves them held), and
  // unplugs the oldest mouse when three are in.
  void cycle(const VirtualMouse& model) {
    std::string error;
    auto mouse = UhidMouse::plug(model, "soak" + std::to_string(next_++), nullptr, &error);
    if (!mouse) {
      markers_.fail("plug " + model.model, error);
      return;
    }
    plugged_.push_back(std::move(mouse));
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> pause(0, 60);
    std::this_thread::sleep_for(milliseconds(pause(random_)));
    if (percent(random_) < 70) {
      // Any of the assigned standard buttons, or an extra-button code.
      static const uint8_t kMasks[] = {0x04, 0x08, 0x10, 0x0C, 0x1C, 0x18};
      static const uint8_t kCodes[] = {0xFA, 0xFC, 0xFE, 0xFD};
      UhidMouse& m = *plugged_.back();
      m.sendButtons(kMasks[percent(random_) % 6],
                    percent(random_) < 30 ? kCodes[percent(random_) % 4] : 0);
      std::this_thread::sleep_for(milliseconds(pause(random_)));
      if (percent(random_) < 50) m.sendButtons(0);
    }
    if (plugged_.size() >= 3 || percent(random_) < 40) unplugOldest();
    countKeys();
  }

  // The window keeps the model pictures it has shown in Qt's pixmap cache,
  // up to the cache's 10 MB (a picture is 2.5 MB decoded). Each model alone
  // is shown first, so that the cache is full before anything counts;
  // otherwise it fills in steps whenever a model is first selected, which
  // may be late in a random run.
  void showEveryModel(const std::vector<const VirtualMouse*>& models) {
    for (const VirtualMouse* m : models) {
      std::string error;
      auto mouse = UhidMouse::plug(*m, "first" + std::to_string(next_++), nullptr, &error);
      if (!mouse) {
        markers_.fail("plug " + m->model, error);
        continue;
      }
      if (configurationPassLength(m->type) > 0) mouse->waitForReceived(0, 1, seconds(10));
      // The window follows once the device-change countdown has run.
      std::this_thread::sleep_for(seconds(2));
    }
  }

  void unplugOldest() {
    plugged_.pop_front();
    countKeys();
  }

  // Reads the keys the agent has sent, which would pile up unread otherwise.
  void countKeys() { keysSeen_ += readKeys(*agent_.keyboard, SIZE_MAX, milliseconds(0)).size(); }

  // The agent's figures once settled: a descriptor opened for a moment (a
  // node probed, a pipe to a helper) is no leak, so the least of a few
  // readings counts.
  Usage usage() const {
    Usage least{agent_.process->openFileDescriptors(), agent_.process->residentKilobytes()};
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_for(milliseconds(100));
      least.fds = std::min(least.fds, agent_.process->openFileDescriptors());
    }
    return least;
  }

  Markers& markers_;
  RunningAgent& agent_;
  int cycles_;
  unsigned seed_;
  std::mt19937 random_;
  std::deque<std::unique_ptr<UhidMouse>> plugged_;
  int next_ = 1;
  size_t keysSeen_ = 0;
};

// The event taps and the input takeover run in this process, on their own,
// for what the agent's own scenarios cannot reach. No pointer mode is held
// and no overlay shown: the taps only take buttons. With counted looks the
// takeover's second looks at a mouse with a button down wait until the
// scenario moves their time on.
struct TakeoverRig : DelayedTasks {
  explicit TakeoverRig(bool counted)
      : takeover(taps.taps, counted ? static_cast<DelayedTasks&>(*this) : timers) {}
  ~TakeoverRig() override {
    if (holder >= 0) ::close(holder);
  }
  void runAfter(std::string_view label, velt::Clock::Duration delay,
                std::function<void()> task) override {
    ++waiting;
    looks.runAfter(label, delay, [this, task = std::move(task)] {
      --waiting;
      ++ran;
      task();
    });
  }

  testing::CaptureLog log;
  testing::TapsRig taps;
  TimerThread timers;
  testing::FakeClock looks;
  std::atomic<int> waiting{0}, ran{0};
  int holder = -1;  // a node grabbed as another program would
  EvdevTakeover takeover;
};

// A plain mouse with a supported model's ids, and its event node.
struct PlainMouse {
  std::unique_ptr<UhidDevice> device;
  std::string node;
};
constexpr UsbId kPlainMouseId{0x0C45, 0x7E20};

// Whether the copy has the mouse's ids and wheel, and the extra button.
bool sameDevice(const std::string& a, const std::string& b) {
  int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC), fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
  libevdev *da = nullptr, *db = nullptr;
  bool same = libevdev_new_from_fd(fa, &da) == 0 && libevdev_new_from_fd(fb, &db) == 0 &&
              libevdev_get_id_vendor(da) == libevdev_get_id_vendor(db) &&
              libevdev_get_id_product(da) == libevdev_get_id_product(db) &&
              libevdev_get_id_bustype(da) == libevdev_get_id_bustype(db) &&
              libevdev_has_event_code(db, EV_REL, REL_WHEEL_HI_RES) ==
                  libevdev_has_event_code(da, EV_REL, REL_WHEEL_HI_RES) &&
              libevdev_has_event_code(db, EV_KEY, BTN_EXTRA);
  if (da) libevdev_free(da);
  if (db) libevdev_free(db);
  ::close(fa);
  ::close(fb);
  return same;
}

class Runner {
 public:
  Runner(std::string file, bool readOnly) : file_(std::move(file)), readOnly_(readOnly) {}
  ~Runner() {
    if (sim_.joinable()) sim_.join();
  }

  int run() {
    std::ifstream in(file_);
    if (!markers_.check(in.good(), "scenario " + file_, "cannot be read")) return 1;
    // The whole file is read before the first step runs: a slip late in it
    // fails at once, not minutes into the run.
    std::vector<Line> lines;
    std::string text;
    for (int n = 1; std::getline(in, text); ++n) {
      try {
        if (auto line = parse(text, n)) lines.push_back(std::move(*line));
      } catch (const std::exception& e) {
        markers_.fail(file_ + ":" + std::to_string(n), e.what());
        return 1;
      }
    }
    if (readOnly_) return 0;
    for (const Line& line : lines) {
      try {
        step(line);
      } catch (const std::exception& e) {
        markers_.fail(file_ + ":" + std::to_string(line.number), e.what());
        return 1;
      }
    }
    return markers_.failures() == 0 ? 0 : 1;
  }

 private:
  // An agent, the user it runs as, and its keyboard's event node.
  struct Agent {
    RunningAgent run;
    unsigned user = 0;
    std::string keyboard;
  };
  // Word i, counted as read: a line with words no step read fails.
  const std::string& word(size_t i) {
    if (i >= w_.size()) throw Stop("too few words");
    read_ = std::max(read_, i);
    return w_[i];
  }
  milliseconds ms(size_t i) { return milliseconds(number(word(i))); }
  bool has(size_t i, const char* text) { return i < w_.size() && word(i) == text; }
  UhidMouse& mouse(size_t i) {
    Mice& in = mice_.count(word(i)) ? mice_ : silent_;
    if (!in.count(w_[i])) throw Stop("no mouse plugged as " + w_[i]);
    return *in.at(w_[i]);
  }
  const VirtualMouse& model(size_t i) {
    for (const VirtualMouse* m : pluggableMice()) {
      if (commandName(*m) == word(i)) return *m;
    }
    throw Stop("no model " + word(i));
  }
  // The key events from word i up to the end or to a word of stops.
  std::vector<KeyEvent> keys(size_t i, const std::set<std::string>& stops = {}) {
    std::vector<KeyEvent> list;
    for (; i < w_.size() && !stops.count(word(i)); ++i) {
      const input_event e = eventOf(w_[i]);
      if (e.type != EV_KEY) throw Stop("not a key: " + w_[i]);
      list.emplace_back(e.code, e.value);
    }
    return list;
  }
  // The agent's keyboard or pointer, or the last copy.
  EventReader& reader(size_t i) {
    const std::string& which = word(i);
    if (which != "keyboard" && which != "pointer" && which != "copy") {
      throw Stop("no events from " + which);
    }
    EventReader* r = which == "keyboard"  ? a().keyboard.get()
                     : which == "pointer" ? a().pointer.get()
                                          : copy_.get();
    if (!r) throw Stop("no " + which + " to read");
    return *r;
  }
  RunningAgent& a() {
    if (!current_) throw Stop("no agent started");
    return current_->run;
  }
  Agent& agent(size_t i) {
    if (!agents_.count(word(i))) throw Stop("no agent " + w_[i]);
    return agents_.at(w_[i]);
  }
  bool check(bool ok, const std::string& detail = {}, const std::string& part = {}) {
    return markers_.check(ok, part.empty() ? what_ : what_ + ": " + part, detail);
  }

  struct Line {
    int number;
    std::string what;  // the line, the name of its markers
    std::vector<std::string> words;
  };

  // The words of a line with the defined ones replaced; nothing for a blank
  // line or a definition. A step it does not know, or one given fewer words
  // than it takes, cannot be read.
  std::optional<Line> parse(const std::string& text, int number) {
    // Each step and the fewest words it takes after its name.
    static const std::map<std::string, size_t> least = [] {
      std::map<std::string, size_t> steps;
      std::istringstream in(
          "agent 1 masks 2 plug 1 plug-silent 2 unplug 1 configured 0 untouched 0 passes 2 "
          "restored 0 handed-over 0 nothing-sent 0 forget 0 quiet 1 buttons 2 input 3 press "
          "3 keys 1 no-keys 1 nothing-held 0 drain 1 copy 1 grabbed 0 events 3 sleep 1 "
          "command 2 running 0 silence 2 asked 2 since-asked 1 log-mark 0 reopened 1 sim 1 "
          "sim-shows 2 terminate 1 open-nodes 0 kill 2 ends 4 closed 1 mark-keyboards 0 "
          "back 1 program 2 said 1 tell 2 kill-program 1 env 1 folder 1 write 2 wait-file 2 "
          "gone 1 window 2 focus 1 identified 0 log-lacks 1 soak 1 needs 1 plain 1 report 2 "
          "taps 0 registered 1 seat 1 nodes 2 same-ids 0 held 1 let-go 1 copy-gone 0 logged "
          "2 intercept 1 dispatched 1 grab-elsewhere 1 looks 1 look 0 ");
      std::string step;
      for (size_t count; in >> step >> count;) steps[step] = count;
      return steps;
    }();
    Line line{number, text.substr(0, text.find(" #")), {}};
    line.what.erase(line.what.find_last_not_of(" \t") + 1);
    auto& w = line.words;
    for (auto& word : wordsOf(text)) {
      auto macro = w.empty() ? defined_.end() : defined_.find(word);
      if (macro == defined_.end()) {
        w.push_back(word);
      } else {
        w.insert(w.end(), macro->second.begin(), macro->second.end());
      }
    }
    if (w.empty()) return std::nullopt;
    if (w[0] == "define") {
      if (w.size() < 3) throw Stop("not define NAME WORDS...");
      defined_[w[1]].assign(w.begin() + 2, w.end());
      return std::nullopt;
    }
    const auto takes = least.find(w[0]);
    if (takes == least.end()) throw Stop("no step \"" + w[0] + "\"");
    if (w.size() <= takes->second) throw Stop("too few words");
    return line;
  }

  void step(const Line& line) {
    w_ = line.words;
    what_ = line.what;
    read_ = 0;
    act(w_[0]);
    if (read_ + 1 < w_.size()) throw Stop("no step reads \"" + w_[read_ + 1] + "\"");
  }

  void act(const std::string& v) {
    if (v == "agent") {
      // NAME OPTIONS...: KEY=VALUE in its button.plist, APP/KEY=VALUE in the
      // profile of APP, platform=, user=, and NAME=VALUE in its environment
      // when NAME is in capitals. The steps after it act on this agent.
      AgentOptions options;
      word(1);
      for (size_t i = 2; i < w_.size(); ++i) {
        const size_t equals = word(i).find('='), slash = w_[i].find('/');
        if (equals == npos) throw Stop("not KEY=VALUE: " + w_[i]);
        const std::string key = w_[i].substr(0, equals), value = w_[i].substr(equals + 1);
        if (key == "platform") {
          options.platform = value;
        } else if (key == "user") {
          options.user = static_cast<unsigned>(number(value));
        } else if (std::all_of(key.begin(), key.end(), [](char c) { return !std::islower(c); })) {
          options.environment.emplace_back(key, value);
        } else if (slash < equals) {
          options.profiles[key.substr(0, slash)][key.substr(slash + 1)] =
              static_cast<int>(number(value));
        } else {
          options.settings[key] = static_cast<int>(number(value));
        }
      }
      auto started = startWithDevices(markers_, options);
      if (!started) throw Stop("the agent did not start");
      current_ = &agents_[w_[1]];
      current_->run = std::move(*started);
      current_->user = options.user;
      current_->keyboard =
          current_->run.process->waitForDevice(kAgentKeyboard, seconds(1)).value_or("");
    } else if (v == "masks") {
      intercept_ = byte(word(1));
      hidButtons_ = byte(word(2));
    } else if (v == "plug") {
      std::vector<const VirtualMouse*> models;
      for (size_t i = 1; i < w_.size(); ++i) models.push_back(&model(i));
      if (!plugMice(markers_, models, mice_)) throw Stop("a mouse did not plug");
      plugged_.insert(models.begin(), models.end());
    } else if (v == "plug-silent") {
      // A mouse that never answers, left out of the steps on every mouse.
      std::string error;
      silent_[word(1)] = UhidMouse::plugSilent(model(2), w_[1], &error);
      if (!check(silent_[w_[1]] != nullptr, error)) throw Stop("it did not plug");
    } else if (v == "unplug") {
      for (size_t i = 1; i < w_.size(); ++i) {
        if (!plain_.count(word(i))) mouse(i);
      }
      for (size_t i = 1; i < w_.size(); ++i)
        mice_.erase(w_[i]), silent_.erase(w_[i]), plain_.erase(w_[i]);
    } else if (v == "configured") {
      if (w_.size() > 1 && !has(1, "again")) throw Stop("configured takes only again");
      expectConfigured(markers_, mice_, what_, has(1, "again"), intercept_, hidButtons_);
    } else if (v == "untouched") {
      // Only a configurable mouse's first interface was sent anything.
      for (const auto& [name, m] : mice_) {
        const VirtualMouse& d = m->description();
        for (size_t i = configurable(d) ? 1 : 0; i < d.interfaces.size(); ++i) {
          check(m->received(i).empty(), describe(m->received(i)),
                name + " " + d.interfaces[i].label);
        }
      }
    } else if (v == "passes") {
      // Exactly the handshake and this many configuration passes.
      UhidMouse& m = mouse(1);
      const auto count = static_cast<size_t>(number(word(2)));
      const auto& d = m.description();
      const auto received = m.received(0);
      check(received.size() ==
                (count ? handshakeOf(d).size() : 0) + count * configurationPassLength(d.type),
            describe(received));
    } else if (v == "restored") {
      // [again]: one restore pass on every configurable mouse, after its
      // handshake when it was identified again; then they forget it.
      for (auto& [name, m] : mice_) {
        const VirtualMouse& d = m->description();
        if (!configurable(d)) continue;
        const auto asked = has(1, "again") ? handshakeAgainOf(d) : std::vector<ReceivedReport>{};
        m->waitForReceived(0, asked.size() + configurationPassLength(d.type), seconds(10));
        std::this_thread::sleep_for(milliseconds(300));
        checkRestored(markers_, what_ + ": " + name, m->received(0), asked, d.type);
        m->clearReceived();
      }
    } else if (v == "handed-over") {
      // One agent's restore pass, then another's handshake and passes.
      for (auto& [name, m] : mice_) {
        const VirtualMouse& d = m->description();
        const size_t pass = configurationPassLength(d.type);
        const auto asked = handshakeAgainOf(d);
        m->waitForReceived(0, 2 * pass + asked.size(), seconds(30));
        std::this_thread::sleep_for(milliseconds(500));
        const auto got = m->received(0);
        const auto split = got.begin() + static_cast<long>(std::min(pass, got.size()));
        checkRestored(markers_, what_ + ": " + name + " restored", {got.begin(), split}, {},
                      d.type);
        checkConfiguration(markers_, what_ + ": " + name + " configured", {split, got.end()}, asked,
                           d.type, intercept_, hidButtons_);
      }
    } else if (v == "nothing-sent") {
      std::this_thread::sleep_for(seconds(1));
      for (const auto& [name, m] : mice_) {
        check(m->received(0).empty(), describe(m->received(0)), name);
      }
    } else if (v == "forget") {
      for (auto& [name, m] : mice_) m->clearReceived();
    } else if (v == "quiet") {
      waitForQuiet(mice_, ms(1));
    } else if (v == "buttons") {
      UhidMouse& m = mouse(1);
      m.sendButtons(byte(word(2)), w_.size() > 3 ? byte(word(3)) : 0);
    } else if (v == "input") {
      UhidMouse& m = mouse(1);
      Bytes bytes;
      for (size_t i = 3; i < w_.size(); ++i) bytes.push_back(byte(word(i)));
      m.sendInput(static_cast<size_t>(number(word(2))), bytes);
    } else if (v == "press") {
      // Lets go after the keys; the agent reads the mice in node order, not
      // in the order they sent, so the next press waits 200 ms.
      UhidMouse& m = mouse(1);
      const uint8_t mask = byte(word(2));
      const auto down = keys(3, {"/"});
      const auto slash = std::find(w_.begin(), w_.end(), "/");
      const auto up = slash == w_.end() ? std::vector<KeyEvent>{}
                                        : keys(static_cast<size_t>(slash - w_.begin()) + 1);
      m.sendButtons(mask);
      expectKeys(markers_, *a().keyboard, what_ + ": pressed", down);
      m.sendButtons(0);
      if (!up.empty()) expectKeys(markers_, *a().keyboard, what_ + ": released", up);
      std::this_thread::sleep_for(milliseconds(200));
    } else if (v == "keys") {
      const bool within = w_.size() > 2 && w_[w_.size() - 2] == "within";
      const milliseconds timeout = within ? ms(w_.size() - 1) : seconds(5);
      expectKeys(markers_, *a().keyboard, what_, keys(1, {"within"}), timeout);
    } else if (v == "no-keys") {
      auto got = readKeys(*a().keyboard, 1, ms(1));
      check(got.empty(), "got " + describe(got));
    } else if (v == "nothing-held") {
      check(a().keyboard->keysDown().empty(), "a key is down");
    } else if (v == "drain") {
      reader(1).drain();
    } else if (v == "copy") {
      // The agent's copy of the mouse's pointer node: the node of the same
      // name that the kernel did not make for the mouse.
      copy_.reset();
      std::optional<HidNodes> nodes;
      if (plain_.count(word(1))) {
        nodes = HidNodes{{}, {plain_.at(w_[1]).node}};
      } else {
        nodes = mouse(1).nodes(0, 1, seconds(10));
      }
      original_ = nodes ? nodes->events.front() : "";
      copyPath_ =
          nodes ? waitForCopy(original_, plain_.count(w_[1]) ? seconds(10) : seconds(5)) : "";
      if (check(!copyPath_.empty(),
                nodes ? "no second node named like " + original_ : "no event node")) {
        copy_ = std::make_unique<EventReader>(copyPath_);
      }
    } else if (v == "grabbed") {
      const int grab = EventReader(original_).grab();
      check(grab == EBUSY, std::string("EVIOCGRAB: ") + std::strerror(grab));
    } else if (v == "events") {
      // Up to FRAMES frames (3 s each) until the last event listed; they
      // hold every event listed and none written !CODE:VALUE.
      EventReader& r = reader(1);
      const long frames = number(word(2));
      std::vector<input_event> wanted, unwanted;
      for (size_t i = 3; i < w_.size(); ++i) {
        const bool no = word(i).starts_with('!');
        (no ? unwanted : wanted).push_back(eventOf(w_[i].substr(no ? 1 : 0)));
      }
      auto in = [](const std::vector<input_event>& got, const input_event& e) {
        return contains(got, e.type, e.code, e.value);
      };
      std::vector<input_event> got;
      for (long i = 0; i < frames && !(wanted.size() && in(got, wanted.back())); ++i) {
        auto frame = r.frame(seconds(3));
        got.insert(got.end(), frame.begin(), frame.end());
      }
      check(std::all_of(wanted.begin(), wanted.end(), [&](auto& e) { return in(got, e); }) &&
                std::none_of(unwanted.begin(), unwanted.end(), [&](auto& e) { return in(got, e); }),
            describe(got));
    } else if (v == "sleep") {
      std::this_thread::sleep_for(ms(1));
    } else if (v == "command") {
      // ARGUMENTS -> STATUS [TEXT [COUNT]]: it prints TEXT (COUNT times), or
      // nothing; as the agent's user.
      const auto arrow = std::find(w_.begin(), w_.end(), "->");
      read_ = w_.size();
      if (w_.end() - arrow < 2 || w_.end() - arrow > 4) throw Stop("not ARGUMENTS -> STATUS");
      const long status = number(*(arrow + 1));
      const std::string text = arrow + 2 == w_.end() ? "" : *(arrow + 2);
      const long count = arrow + 3 >= w_.end() ? -1 : number(*(arrow + 3));
      auto [got, output] = runAgentCommand(current_ ? current_->user : 0, {w_.begin() + 1, arrow});
      long found = 0;
      for (size_t at = output.find(text); !text.empty() && at != npos;
           at = output.find(text, at + 1)) {
        ++found;
      }
      check(got == status && (text.empty() ? output.empty()
                              : count < 0  ? found > 0
                                           : found == count),
            "exit " + std::to_string(got) + ": " + output);
    } else if (v == "running") {
      check(a().process->running(), a().process->ending());
    } else if (v == "silence") {
      UhidMouse& m = mouse(1);
      if (!has(2, "on") && !has(2, "off")) throw Stop("silence takes on or off");
      m.setSilent(has(2, "on"));
    } else if (v == "asked") {
      // Waits up to 10 s for the silent mouse to be asked; COUNT or any.
      UhidMouse& m = mouse(1);
      const long count = has(2, "any") ? -1 : number(word(2));
      waitFor([&] { return m.unanswered() > 0; }, seconds(10));
      asked_ = Clock::now();
      check(count < 0 ? m.unanswered() > 0 : m.unanswered() == count,
            std::to_string(m.unanswered()) + " unanswered");
    } else if (v == "since-asked") {
      check(Clock::now() - asked_ < ms(1));
    } else if (v == "log-mark") {
      logMark_ = agentLog().size();
    } else if (v == "reopened") {
      // Registered before the mark, removed once as no longer answering, and
      // registered once since, under a new handle.
      UhidMouse& m = mouse(1);
      const std::string log = agentLog(), tail = ": " + m.description().model + " (type ";
      const auto before = handlesOf(log.substr(0, logMark_), tail), after = handlesOf(log, tail);
      const auto lost = handlesOf(log, " does not answer as it did");
      check(lost.size() == 1 && after.size() == before.size() + 1 &&
                std::count(before.begin(), before.end(), lost[0]) == 1 &&
                std::count(before.begin(), before.end(), after.back()) == 0 &&
                handlesOf(log, " removed") == lost,
            std::to_string(before.size()) + " registrations before, " +
                std::to_string(after.size()) + " after");
    } else if (v == "sim") {
      sim_ = std::thread([this, script = word(1)] {
        simRan_ = ChildProcess({"velt-mouse-sim", "-e", script}).finish();
      });
    } else if (v == "sim-shows") {
      // velt-mouse-sim ended well and showed its mouse N configured as the
      // model is.
      const std::string shown = std::to_string(number(word(1))) + " mouse: ";
      const VirtualMouse& m = model(2);
      if (sim_.joinable()) sim_.join();
      const auto pass = configurationPass(m.type, intercept_, hidButtons_, 0xE0);
      check(simRan_.first == 0 && simRan_.second.find(shown + describe(pass) + "\n") != npos,
            "exit " + std::to_string(simRan_.first) + ": " + simRan_.second);
    } else if (v == "terminate") {
      // NAME [STATUS under MS KEYS...]: SIGTERM; it ends with STATUS in less
      // than MS, the keys sent as it ends.
      Agent& ending = agent(1);
      if (w_.size() == 2) {
        ending.run.process->terminate(seconds(20));
        return;
      }
      const long status = number(word(2));
      if (!has(3, "under")) throw Stop("not NAME STATUS under MS KEYS...");
      const milliseconds bound = ms(4);
      const auto expected = keys(5);
      const auto before = Clock::now();
      std::optional<int> ended;
      milliseconds took{};
      std::thread ender([&] {
        ended = ending.run.process->terminate(seconds(20));
        took = std::chrono::duration_cast<milliseconds>(Clock::now() - before);
      });
      expectKeys(markers_, *ending.run.keyboard, what_ + ": keys", expected, seconds(15));
      ender.join();
      markers_.note("SIGTERM to the end of the agent: " + std::to_string(took.count()) + " ms");
      check(ended == status, ending.run.process->ending(), "status");
      check(took < bound, std::to_string(took.count()) + " ms", "time");
    } else if (v == "open-nodes") {
      // The nodes as the seat's user has them (the package's udev rule).
      std::system("chmod 666 /dev/hidraw* /dev/input/event* /dev/uinput");
    } else if (v == "kill") {
      // NAME KILL|SEGV|ABRT
      const std::map<std::string, int> signals = {
          {"KILL", SIGKILL}, {"SEGV", SIGSEGV}, {"ABRT", SIGABRT}};
      if (!signals.count(word(2))) throw Stop("no signal " + w_[2]);
      ::kill(agent(1).run.process->pid(), signals.at(w_[2]));
    } else if (v == "ends") {
      // NAME ENDING within MS: it ends by itself, as "exit status 3".
      Agent& ending = agent(1);
      if (!has(3, "within")) throw Stop("not NAME ENDING within MS");
      ending.run.process->waitForExit(ms(4));
      check(ending.run.process->ending() == word(2), ending.run.process->ending());
    } else if (v == "closed") {
      // NAME: the agent has no hidraw node open and its keyboard is gone.
      const Agent& away = agent(1);
      check(waitFor([&] { return openHidrawNodes(away.run.process->pid()) == 0; }, seconds(10)),
            "hidraw nodes open", "hidraw");
      check(waitForGone(away.keyboard, seconds(10)), away.keyboard, "keyboard");
    } else if (v == "mark-keyboards") {
      keyboards_ = keyboards();
    } else if (v == "back") {
      // NAME: a keyboard not there at the mark is the agent's again, and
      // the steps after act on it.
      Agent& back = agent(1);
      std::string node;
      waitFor(
          [&] {
            for (const auto& [device, path] : keyboards()) {
              if (!keyboards_.count(device)) node = path;
            }
            return !node.empty();
          },
          seconds(20));
      if (!check(!node.empty(), "no new keyboard")) throw Stop("no keyboard to read");
      back.keyboard = node;
      back.run.keyboard = std::make_unique<EventReader>(node);
      current_ = &back;
    } else if (v == "program") {
      // NAME [user=N] [NAME=VALUE...] ARGUMENTS...: runs in the background.
      unsigned user = 0;
      std::vector<std::pair<std::string, std::string>> env;
      size_t i = 2;
      for (; i < w_.size() && w_[i].find('=') != npos; ++i) {
        const size_t equals = w_[i].find('=');
        if (w_[i].starts_with("user=")) {
          user = static_cast<unsigned>(number(w_[i].substr(5)));
        } else if (std::isupper(static_cast<unsigned char>(w_[i][0]))) {
          env.emplace_back(w_[i].substr(0, equals), w_[i].substr(equals + 1));
        } else {
          break;
        }
      }
      if (i == w_.size()) throw Stop("no program to run");
      read_ = w_.size();
      programs_[word(1)] = std::make_unique<ChildProcess>(
          std::vector<std::string>(w_.begin() + static_cast<long>(i), w_.end()), user, env, true);
    } else if (v == "said" || v == "tell" || v == "kill-program") {
      // said NAME [TEXT]: its next line is TEXT (or any); tell NAME TEXT.
      if (!programs_.count(word(1))) throw Stop("no program " + w_[1]);
      ChildProcess& p = *programs_.at(w_[1]);
      if (v == "tell") {
        p.write(word(2));
      } else if (v == "kill-program") {
        p.kill(SIGKILL);
      } else {
        const std::string line = p.readLine();
        check(w_.size() > 2 ? line == word(2) : !line.empty(), line);
      }
    } else if (v == "env") {
      const size_t equals = word(1).find('=');
      if (equals == npos) throw Stop("not NAME=VALUE");
      ::setenv(w_[1].substr(0, equals).c_str(), w_[1].substr(equals + 1).c_str(), 1);
    } else if (v == "folder") {
      // PATH [OWNER]: made; with an owner, for it alone.
      fs::create_directories(word(1));
      if (w_.size() > 2) {
        std::system(
            ("chown " + std::to_string(number(word(2))) + " " + w_[1] + " && chmod 700 " + w_[1])
                .c_str());
      }
    } else if (v == "write") {
      // PATH TEXT, \n a line end.
      std::string text = word(2);
      for (size_t at; (at = text.find("\\n")) != npos;) text.replace(at, 2, "\n");
      std::ofstream(word(1)) << text;
    } else if (v == "wait-file" || v == "gone") {
      // wait-file PATH MS: it appears; gone PATH...: none is there.
      if (v == "wait-file") {
        const std::string path = word(1);
        check(waitFor([&] { return fs::exists(path); }, ms(2)));
      } else {
        bool none = true;
        for (size_t i = 1; i < w_.size(); ++i) none &= !fs::exists(word(i));
        check(none);
      }
    } else if (v == "window") {
      // DISPLAY APP: a window of that WM_CLASS on the X server.
      if (!x_) x_ = std::make_unique<XWindows>(word(1).c_str());
      if (!check(x_->ok(), "no X connection")) throw Stop("no X server");
      x_->open(word(2));
    } else if (v == "focus") {
      // APP: its window is made active, and the agent says its profile applies.
      if (!x_) throw Stop("no window");
      x_->activate(word(1));
      std::string said;
      check(waitFor(
                [&] {
                  said = runAgentCommand(current_ ? current_->user : 0, {"--status"}).second;
                  return said.find("\nprofile: " + w_[1] + "\n") != npos;
                },
                seconds(10)),
            said);
    } else if (v == "identified") {
      // The log names each mouse with the model number its handshake gave.
      const std::string log = agentLog();
      for (const VirtualMouse* m : plugged_) {
        const std::string line = ": " + m->model + " (type " + std::to_string(m->type) +
                                 ", model " + std::to_string(m->modelNumber) + ")";
        if (configurable(*m)) check(log.find(line) != npos, "no line \"device N" + line, m->model);
      }
    } else if (v == "log-lacks") {
      check(agentLog().find(word(1)) == npos);
    } else if (v == "needs") {
      // PATHS...: the run is skipped where one cannot be opened.
      for (size_t i = 1; i < w_.size(); ++i) {
        const int fd = ::open(word(i).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
          std::printf("skipped: needs %s\n", w_[i].c_str());
          std::exit(77);
        }
        ::close(fd);
      }
    } else if (v == "plain") {
      // NAME: a plain mouse with a supported model's ids, once its event
      // node is there.
      UhidDeviceSetup setup;
      setup.name = setup.uniq = word(1);
      setup.phys = "velt-e2e/" + w_[1];
      setup.vendor = static_cast<uint32_t>(kPlainMouseId.vendorId);
      setup.product = static_cast<uint32_t>(kPlainMouseId.productId);
      setup.descriptor = kPlainMouseDescriptor;
      std::string error;
      PlainMouse& m = plain_[w_[1]];
      m.device = UhidDevice::create(setup, {}, &error);
      if (!check(m.device != nullptr, error)) throw Stop("it did not plug");
      auto nodes = waitForHidNodes("HID_UNIQ", w_[1], 1, seconds(10));
      if (!check(nodes.has_value(), "no event node")) throw Stop("it has no event node");
      m.node = nodes->events.front();
    } else if (v == "report") {
      // NAME MASK: these buttons of a plain mouse down, no motion.
      if (!plain_.count(word(1))) throw Stop("no plain mouse " + w_[1]);
      const uint8_t data[] = {byte(word(2)), 0, 0, 0};
      plain_.at(w_[1]).device->sendInput(data);
    } else if (v == "taps") {
      // [counted]: fresh taps and takeover, their input thread started.
      if (w_.size() > 1 && !has(1, "counted")) throw Stop("taps takes only counted");
      rig_.reset();
      rig_ = std::make_unique<TakeoverRig>(has(1, "counted"));
      if (!check(rig_->takeover.createEventTaps())) throw Stop("no input thread");
    } else if (v == "registered" || v == "seat") {
      // registered on|off: the plain mice's model is registered or not;
      // seat on|off: the session has the seat or leaves it.
      if (!rig_) throw Stop("no taps");
      if (!has(1, "on") && !has(1, "off")) throw Stop(v + " takes on or off");
      if (v == "seat") {
        rig_->takeover.setTakingOver(has(1, "on"));
      } else {
        rig_->takeover.registeredDevicesChanged(has(1, "on") ? std::vector<UsbId>{kPlainMouseId}
                                                             : std::vector<UsbId>{});
      }
    } else if (v == "nodes") {
      // NAME N: event nodes of that name.
      const size_t count = eventNodesNamed(word(1)).size();
      check(count == static_cast<size_t>(number(word(2))), std::to_string(count) + " nodes");
    } else if (v == "same-ids") {
      check(sameDevice(original_, copyPath_), original_ + " and " + copyPath_);
    } else if (v == "held" || v == "let-go") {
      // NAME...: the plain mice's nodes are grabbed, or free, within 10 s.
      const bool held = v == "held";
      for (size_t i = 1; i < w_.size(); ++i) {
        if (!plain_.count(word(i))) throw Stop("no plain mouse " + w_[i]);
        const std::string node = plain_.at(w_[i]).node;
        check(waitFor([&] { return (EventReader(node).grab() == EBUSY) == held; }, seconds(10)),
              node);
      }
    } else if (v == "copy-gone") {
      check(waitForGone(copyPath_, seconds(10)), copyPath_);
    } else if (v == "logged") {
      // TEXT N: N lines hold TEXT within 10 s, and no more come in 300 ms.
      if (!rig_) throw Stop("no taps");
      const auto count = static_cast<size_t>(number(word(2)));
      waitFor([&] { return rig_->log.count(w_[1]) >= count; }, seconds(10));
      std::this_thread::sleep_for(milliseconds(300));
      check(rig_->log.count(w_[1]) == count, std::to_string(rig_->log.count(w_[1])) + " lines");
    } else if (v == "intercept" || v == "dispatched") {
      // intercept MASK: the buttons the taps take; dispatched MASK: the last
      // mask they handed on, within 10 s.
      if (!rig_) throw Stop("no taps");
      const uint8_t mask = byte(word(1));
      if (v == "intercept") {
        rig_->taps.settings.interceptMask = mask;
      } else {
        check(waitFor([&] { return rig_->taps.buttons.last() == mask; }, seconds(10)),
              "last " + std::to_string(rig_->taps.buttons.last()));
      }
    } else if (v == "grab-elsewhere") {
      // NAME: another program grabs the plain mouse's node.
      if (!rig_ || !plain_.count(word(1))) throw Stop("no taps or no plain mouse " + w_[1]);
      rig_->holder = ::open(plain_.at(w_[1]).node.c_str(), O_RDONLY | O_CLOEXEC);
      check(::ioctl(rig_->holder, EVIOCGRAB, 1) == 0, std::strerror(errno));
    } else if (v == "looks" || v == "look") {
      // looks N: one second look waits at a time, after each of N; look:
      // the next one runs.
      if (!rig_) throw Stop("no taps");
      TakeoverRig& r = *rig_;
      for (long look = 0; v == "looks" && look < number(word(1)); ++look) {
        waitFor([&] { return r.waiting > 0 && r.ran == look; }, seconds(10));
        std::this_thread::sleep_for(milliseconds(300));
        check(r.waiting == 1, std::to_string(r.waiting) + " wait",
              "after " + std::to_string(look) + " looks");
        r.looks.advance(milliseconds(300));
      }
      if (v == "look") r.looks.advance(milliseconds(300));
    } else if (v == "soak") {
      // CYCLES [SEED]: the hot-plug soak on the agent; VELT_SOAK_SEED, or a
      // random seed, when none is given.
      const char* given = w_.size() > 2 ? word(2).c_str() : std::getenv("VELT_SOAK_SEED");
      const unsigned seed =
          given && *given ? static_cast<unsigned>(number(given)) : std::random_device{}();
      Soak(markers_, a(), static_cast<int>(number(word(1))), seed).run();
    }
  }

  static constexpr size_t npos = std::string::npos;
  std::string file_;
  bool readOnly_;
  std::vector<std::string> w_;  // the words of the line, defined ones replaced
  size_t read_ = 0;             // the last word a step read
  std::string what_;            // the line, the name of its markers
  std::map<std::string, std::vector<std::string>> defined_;
  uint8_t intercept_ = 0, hidButtons_ = 0;
  Markers markers_;
  std::map<std::string, Agent> agents_;
  Agent* current_ = nullptr;  // the agent the steps act on
  Mice mice_, silent_;
  std::set<const VirtualMouse*> plugged_;
  std::unique_ptr<EventReader> copy_;
  std::string original_, copyPath_;  // the node copy_ copies, and its own
  std::map<std::string, PlainMouse> plain_;
  std::unique_ptr<TakeoverRig> rig_;
  Clock::time_point asked_;
  size_t logMark_ = 0;
  std::map<std::string, std::string> keyboards_;  // at the mark
  std::map<std::string, std::unique_ptr<ChildProcess>> programs_;
  std::unique_ptr<XWindows> x_;
  std::thread sim_;
  std::pair<int, std::string> simRan_;
};

}  // namespace
}  // namespace velt::e2e

// --read: reads the file and runs nothing, as every build does with each
// scenario.
int main(int argc, char** argv) {
  const bool readOnly = argc == 3 && std::strcmp(argv[1], "--read") == 0;
  if (argc != 2 && !readOnly) {
    std::fprintf(stderr, "usage: velt-e2e-scenario-runner [--read] FILE\n");
    return 2;
  }
  const int status = velt::e2e::Runner(argv[argc - 1], readOnly).run();
  if (status != 0 && !readOnly) velt::e2e::AgentProcess::showLog();
  return status;
}
