// Guest program: runs a scenario file of tests/e2e/scenarios/ against the
// real agent and virtual mice, a step a line (tests/README.md lists them).
// Each check's marker is named after its line; a line that cannot be read
// ends the run with a failure naming the file and the line.
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <thread>

#include "tests/e2e/agent_process.h"
#include "tests/e2e/guest_mice.h"
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

class Runner {
 public:
  explicit Runner(std::string file) : file_(std::move(file)) {}
  ~Runner() {
    if (sim_.joinable()) sim_.join();
  }

  int run() {
    std::ifstream in(file_);
    if (!markers_.check(in.good(), "scenario " + file_, "cannot be read")) return 1;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      try {
        step(line);
      } catch (const std::exception& e) {
        markers_.fail(file_ + ":" + std::to_string(n), e.what());
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

  void step(const std::string& line) {
    w_.clear();
    for (auto& word : wordsOf(line)) {
      auto macro = w_.empty() ? defined_.end() : defined_.find(word);
      if (macro == defined_.end()) {
        w_.push_back(word);
      } else {
        w_.insert(w_.end(), macro->second.begin(), macro->second.end());
      }
    }
    if (w_.empty()) return;
    what_ = line.substr(0, line.find(" #"));
    what_.erase(what_.find_last_not_of(" \t") + 1);
    read_ = 0;
    act(w_[0]);
    if (read_ + 1 < w_.size()) throw Stop("no step reads \"" + w_[read_ + 1] + "\"");
  }

  void act(const std::string& v) {
    if (v == "define") {
      defined_[word(1)].assign(w_.begin() + 2, w_.end());
      read_ = w_.size();
    } else if (v == "agent") {
      // NAME OPTIONS...: KEY=VALUE in its button.plist, APP/KEY=VALUE in the
      // profile of APP, platform=, user=, and NAME=VALUE in its environment
      // when NAME is in capitals. The steps after it act on this agent.
      AgentOptions options = withSettings({});
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
      for (size_t i = 1; i < w_.size(); ++i) mouse(i);
      for (size_t i = 1; i < w_.size(); ++i) mice_.erase(w_[i]), silent_.erase(w_[i]);
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
      UhidMouse& m = mouse(1);
      copy_.reset();
      auto nodes = m.nodes(0, 1, seconds(10));
      original_ = nodes ? nodes->events.front() : "";
      const std::string copy = nodes ? waitForCopy(original_, seconds(5)) : "";
      if (check(!copy.empty(),
                nodes ? "no second node named like " + original_ : "no event node")) {
        copy_ = std::make_unique<EventReader>(copy);
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
    } else {
      throw Stop("no step \"" + v + "\"");
    }
  }

  static constexpr size_t npos = std::string::npos;
  std::string file_;
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
  std::string original_;  // the node copy_ copies
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

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velt-e2e-scenario-runner FILE\n");
    return 2;
  }
  const int status = velt::e2e::Runner(argv[1]).run();
  if (status != 0) velt::e2e::AgentProcess::showLog();
  return status;
}
