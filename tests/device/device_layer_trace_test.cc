// The device layer driven from the test's own thread, one plain-text command
// at a time, and what it did written down as plain text: the reports each
// mouse was sent (decoded), the button functions run, the notices the window
// got, the log lines. A trace is the commands, each followed by its effects
// indented by two spaces; DeviceTraceRig::traceOf runs the commands of an
// expected trace and returns the trace they make. Most traces are files in
// tests/device/traces; those here need a catalogue or a clock of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_layer.h"
#include "device/vendor_reports.h"
#include "testing/fake_hid_transport.h"
#include "tests/support/test_support.h"

namespace velt::testing {
namespace {

std::string hex(uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) out += (out.empty() ? "" : " ") + hex(b);
  return out;
}

std::vector<uint8_t> bytesOf(std::istringstream& in) {
  std::vector<uint8_t> bytes;
  std::string word;
  while (in >> word) bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  return bytes;
}

uint8_t hexWord(std::istringstream& in) {
  std::string word;
  in >> word;
  return word.empty() ? 0 : static_cast<uint8_t>(std::stoul(word, nullptr, 16));
}

// Runs the layer's work when the rig says so: queued tasks in order, then
// jobs one at a time, unless they are held (a request still waiting).
class ManualDeviceWork final : public DeviceWork {
 public:
  void joinListener() override { listen_ = nullptr; }
  void openQueue() override { queueOpen_ = true; }

  void awaitIdentification() override { runAll(); }
  void awaitJobs(const Clock&, Clock::TimePoint) override {}
  bool jobsLeft() override { return !jobs_.empty(); }
  void startListener(std::function<bool()> open, std::function<void()> listen) override {
    open_ = std::move(open);
    listen_ = std::move(listen);
    transport->setStepped(true);
  }

  bool post(std::function<void()> task) override {
    if (!queueOpen_) return false;
    tasks_.push_back(std::move(task));
    return true;
  }

  void closeQueue() override {
    if (!queueOpen_) return;
    while (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      task();
    }
    queueOpen_ = false;
  }

  void startJob(bool, std::function<void()> job) override { jobs_.push_back(std::move(job)); }
  void runAfter(std::string_view label, Clock::Duration delay,
                std::function<void()> task) override {
    timers->runAfter(label, delay, std::move(task));
  }

  void runAll() {
    for (;;) {
      if (open_ && !std::exchange(open_, nullptr)()) listen_ = nullptr;
      if (listen_ && (!listened_ || transport->pendingEvents() > 0)) {
        listened_ = true;
        listen_();
        continue;
      }
      if (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        task();
        continue;
      }
      if (holdJobs || jobs_.empty()) return;
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      job();
    }
  }

  // Until nothing is left to run: the listener's events, the tasks, the jobs.

  bool holdJobs = false;
  FakeHidTransport* transport = nullptr;
  DelayedTasks* timers = nullptr;

 private:
  std::function<bool()> open_;
  std::function<void()> listen_;
  bool listened_ = false;
  bool queueOpen_ = false;
  std::deque<std::function<void()>> tasks_;
  std::deque<std::function<void()>> jobs_;
};

// The layer over virtual mice on two fake clocks: one for the layer (its
// handshake pauses and quitting's patience), one that runs the countdowns.
// The rig stands in for the layer's other services too, and writes down
// what each is asked as it happens.
class DeviceTraceRig final : EventTaps,
                             OverlayControl,
                             RegistryObserver,
                             ButtonFunctionRunner,
                             LogSink,
                             DelayedTasks {
 public:
  // adjust may add models to the shipped catalogue.
  explicit DeviceTraceRig(const std::function<void(ModelCatalogue&)>& adjust = {})
      : catalogue(loadModelCatalogue(sourceResources() / "model")) {
    if (adjust) adjust(catalogue);
    // Button 3 (mask 0x08) copies unless a trace assigns it otherwise.
    settings.StandardButtonAssignments[3].store({13, 0, 0});
    work.transport = &transport;
    work.timers = this;
    setLogSink(this);
    layer_ = std::make_unique<DeviceLayer>(DeviceLayerServices{settings, catalogue, transport,
                                                               *this, *this, mainThread_, clock,
                                                               ticks, this, false, &work});
    layer_->setRegistryObserver(this);
    layer_->onDeviceChange([this](const DeviceRecord& r) { notices_.push_back(noticeOf(r)); });
    layer_->setFatalErrorHandler([this] { trace_.push_back("fatal error"); });
  }

  ~DeviceTraceRig() {
    work.holdJobs = false;
    layer_->stop();
    work.runAll();
    layer_.reset();
    setLogSink(nullptr);
  }

  std::string traceOf(const std::string& expected) {
    trace_.clear();
    std::istringstream in(expected);
    std::string out, line;
    while (std::getline(in, line)) {
      if (line.empty() || line.starts_with("  ")) continue;
      out += line + "\n";
      if (line.starts_with("#")) continue;
      run(line);
      for (const std::string& effect : trace_) out += "  " + effect + "\n";
      trace_.clear();
    }
    return out;
  }

  // Commands, one a line (NAME: a mouse as plugged, MODEL or MODEL'2 or as
  // named; NAME/i one of its interfaces; _ for a space in MODEL; hex masks):
  //   start, mice MODEL..., stop, quit, leave, return, wake, pass
  //   plug MODEL[/i] [as NAME] [denied], plug-raw VID PID BYTES..., unplug NAME[/i]
  //   silent NAME [writes], mute NAME, answers NAME, vanish NAME/i after N,
  //   passes N, plug MODEL serial TEXT
  //   press NAME MASK [EXTRA], input NAME/i BYTES..., mask MASK
  //   tick N (0.2 s countdown ticks), intercept MASK, arm N, notice-in MS
  //   assign standard|extra N CODE [OP1 OP2], select N, describe N
  //   hold jobs, run jobs, refuse taps, fail open REASON,
  //   show timers|registry|waits (waits: how far the layer's clock moved)
  void run(const std::string& command) {
    const Clock::TimePoint begun = clock.now();
    runCommand(command);
    if (showWaits_ && clock.now() != begun) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - begun).count();
      trace_.push_back("waited " + std::to_string(ms) + " ms");
    }
  }

  void runCommand(const std::string& command) {
    std::istringstream in(command);
    std::string verb;
    in >> verb;
    if (verb == "start") {
      if (!layer_->initDeviceLayer()) trace_.push_back("not started");
    } else if (verb == "mice") {
      // Started with these mice plugged, configured and listed, quietly.
      layer_->initDeviceLayer();
      std::string model;
      while (in >> model) run("plug " + model);
      run("tick 3");
      trace_.clear();
      return;
    } else if (verb == "stop") {
      layer_->stop();
      trace_.push_back(layer_->waitingOnDevice() ? "stopped, waiting on a device" : "stopped");
    } else if (verb == "quit") {
      const Clock::TimePoint begun = clock.now();
      layer_->restoreDevicesOnQuit();
      trace_.push_back(
          "quit: " + std::to_string(layer_->restoredDevices()) + " restored in " +
          std::to_string(
              std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - begun).count()) +
          " ms");
    } else if (verb == "mask") {
      layer_->postButtonMask(hexWord(in));
    } else if (verb == "show") {
      std::string what;
      in >> what;
      (what == "timers" ? showTimers_ : what == "waits" ? showWaits_ : showRegistry_) = true;
    } else if (verb == "leave" || verb == "return") {
      layer_->setSessionActive(verb == "return");
    } else if (verb == "wake") {
      layer_->recheckDevices();
    } else if (verb == "pass" || verb == "passes") {
      // passes N: back to back, as a worker runs the requests that came
      // during a pass, with nothing run on the loop in between.
      int n = 1;
      if (verb == "passes") in >> n;
      for (int i = 0; i < n; ++i) layer_->sendConfiguration();
    } else if (verb == "plug") {
      std::string what, word, name, serial;
      in >> what;
      int openError = 0;
      while (in >> word) {
        if (word == "as") in >> name;
        if (word == "serial") in >> serial;
        if (word == "denied") openError = EACCES;
      }
      const auto slash = what.find('/');
      std::string model = what.substr(0, slash);
      std::replace(model.begin(), model.end(), '_', ' ');  // Other_mouse
      if (name.empty()) {
        const int n = ++models_[model];
        name = n == 1 ? model : model + "'" + std::to_string(n);
      }
      std::erase_if(plugged_, [&](const Interface& i) { return i.mouse == name; });
      plug(model, name,
           slash == std::string::npos ? std::nullopt
                                      : std::optional<size_t>(std::stoul(what.substr(slash + 1))),
           openError, serial);
    } else if (verb == "plug-raw") {
      int vid, pid;
      in >> std::hex >> vid >> pid;
      transport.plugRaw(vid, pid, bytesOf(in));
    } else if (verb == "unplug") {
      std::string name;
      in >> name;
      for (Interface* i : interfaces(name)) transport.unplug(i->id);
    } else if (verb == "silent" || verb == "mute" || verb == "answers") {
      // silent: every request times out; mute: each is refused at once.
      std::string name, writes;
      in >> name >> writes;
      const int error = verb == "silent" ? ETIMEDOUT : verb == "mute" ? EPIPE : 0;
      for (Interface* i : interfaces(name)) transport.failReads(i->id, error, writes == "writes");
    } else if (verb == "vanish") {
      std::string name, after;
      int calls = 0;
      in >> name >> after >> calls;
      transport.vanishAfterCalls(interfaces(name)[0]->id, calls);
    } else if (verb == "press") {
      std::string name;
      in >> name;
      const uint8_t mask = hexWord(in), extra = hexWord(in);
      Interface& i = buttonInterface(name);
      transport.sendInput(i.id, i.model->buttonReport(mask, extra));
    } else if (verb == "input") {
      std::string name;
      in >> name;
      transport.sendInput(interfaces(name)[0]->id, bytesOf(in));
    } else if (verb == "tick") {
      int n = 1;
      in >> n;
      for (int i = 0; i < n; ++i) {
        ticks.advance(Countdown::kTick);
        settle();
      }
    } else if (verb == "intercept") {
      settings.interceptMask = hexWord(in);
    } else if (verb == "arm") {
      int n = 1;
      in >> n;
      layer_->armConfigCountdown(n);
    } else if (verb == "notice-in") {
      int ms = 0;
      in >> ms;
      layer_->scheduleDeviceChangeNotice(ms);
    } else if (verb == "assign") {
      std::string kind;
      int n = 0, code = 0, op1 = 0, op2 = 0;
      in >> kind >> n >> code >> op1 >> op2;
      const ButtonAssignmentValue assignment{code, op1, op2};
      if (kind == "extra") {
        settings.ExtraButtonAssignments.at(n).store(assignment);
      } else {
        settings.StandardButtonAssignments.at(n).store(assignment);
      }
    } else if (verb == "select") {
      int n = 0;
      in >> n;
      layer_->selectDevice(n);
      trace_.push_back("selected " + std::to_string(layer_->selectedDeviceIndex()));
    } else if (verb == "describe") {
      int n = 0;
      in >> n;
      const DeviceRecord r = layer_->describeDevice(n);
      if (r.type == 0) {
        trace_.push_back("none");
      } else {
        trace_.push_back(r.name + " type " + std::to_string(r.type) + " model " +
                         std::to_string(r.modelId) + " key " + r.key + " extras " +
                         std::to_string(r.extraCount) + " image " +
                         r.imagePath.substr(r.imagePath.rfind('/') + 1));
      }
    } else if (verb == "hold") {
      work.holdJobs = true;
    } else if (verb == "run") {
      work.holdJobs = false;
    } else if (verb == "refuse") {
      tapsWork_ = false;
    } else if (verb == "fail") {
      std::string open, reason;
      in >> open;
      std::getline(in >> std::ws, reason);
      transport.failOpen(reason);
    } else {
      throw std::invalid_argument("unknown command: " + command);
    }
    settle();
  }

  // The trace that the commands of expected make.
  // One command; its effects go to the trace.

  Settings settings;
  ModelCatalogue catalogue;
  FakeHidTransport transport;
  ManualDeviceWork work;
  FakeClock clock;
  FakeClock ticks;
  DeviceLayer& layer() { return *layer_; }

 private:
  struct Interface {
    std::string mouse;  // the name commands give the mouse
    size_t index;
    const VirtualMouse* model;
    FakeHidTransport::DeviceId id;
    size_t reportsSeen = 0;
    bool subscribed = false;
    bool keeps = false;
  };
  // Everything the layer does now, then what it did (settle, collect).
  void setTakingOver(bool takeOver) {
    trace_.push_back(takeOver ? "taps take the mice" : "taps give the mice back");
  }

  void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) {
    std::string line = "function " + std::to_string(code) + (pressed ? " down" : " up");
    if (op1 || op2) line += " " + hex(op1) + " " + hex(op2);
    trace_.push_back(line);
  }

  void runAfter(std::string_view label, Clock::Duration delay, std::function<void()> task) {
    if (showTimers_) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
      trace_.push_back("timer: " + std::string(label) + " in " + std::to_string(ms) + " ms");
    }
    ticks.runAfter(label, delay, std::move(task));
  }

  void registeredDevicesChanged(const std::vector<UsbId>& devices) {
    if (!showRegistry_) return;
    std::string line = "registered:";
    for (const UsbId& id : devices) {
      char text[16];
      std::snprintf(text, sizeof text, " %04X:%04X", static_cast<unsigned>(id.vendorId),
                    static_cast<unsigned>(id.productId));
      line += text;
    }
    trace_.push_back(line);
  }

  std::vector<Interface*> interfaces(const std::string& name) {
    const auto slash = name.find('/');
    const std::string mouse = name.substr(0, slash);
    std::vector<Interface*> found;
    for (Interface& i : plugged_) {
      if (i.mouse != mouse) continue;
      if (slash == std::string::npos || std::to_string(i.index) == name.substr(slash + 1)) {
        found.push_back(&i);
      }
    }
    if (found.empty()) throw std::invalid_argument("no mouse " + name);
    return found;
  }

  Interface& buttonInterface(const std::string& name) {
    Interface* any = interfaces(name)[0];
    return *interfaces(any->mouse + "/" + std::to_string(any->model->buttonInterface()))[0];
  }

  void plug(const std::string& model, const std::string& name, std::optional<size_t> only,
            int openError, const std::string& serial) {
    const VirtualMouse* mouse = &virtualMouse(model);
    if (!serial.empty()) {
      mouse = &variants_.emplace_back(*mouse);
      variants_.back().serialNumber = serial;
    }
    const VirtualMouse& m = *mouse;
    for (size_t i = 0; i < m.interfaces.size(); ++i) {
      if (only && *only != i) continue;
      plugged_.push_back({name, i, &m, transport.plug(m, i, openError)});
    }
  }

  void settle() {
    for (;;) {
      work.runAll();
      // What the window was told, before what it was then asked to do.
      trace_.insert(trace_.end(), notices_.begin(), notices_.end());
      notices_.clear();
      if (mainThread_.runPending() == 0) break;
    }
    collect();
  }

  // A notice as the window gets it, with where the selection is listed.
  std::string noticeOf(const DeviceRecord& r) {
    if (r.type == 0) return "notice: no mouse";
    const int32_t at = layer_->selectedDeviceIndex();
    std::string line = "notice: " + r.name + " (key " + r.key + ") at " + std::to_string(at);
    const int32_t listed = layer_->indexOfSelectedDevice();
    if (listed != at) line += ", listed at " + std::to_string(listed);
    return line;
  }

  void collect() {
    for (Interface& i : plugged_) {
      const std::string name = i.mouse + "/" + std::to_string(i.index);
      // One line an interface: the reports it was sent, then what changed.
      std::string line;
      auto add = [&line](const std::string& item) { line += (line.empty() ? ": " : ", ") + item; };
      const auto sent = transport.sentReports(i.id);
      for (size_t r = i.reportsSeen; r < sent.size();) add(decode(i, sent, r));
      i.reportsSeen = sent.size();
      if (transport.subscribed(i.id) != i.subscribed) {
        i.subscribed = !i.subscribed;
        add(i.subscribed ? "read" : "not read");
      }
      if (transport.keptRestoreReports(i.id).empty() == i.keeps) {
        i.keeps = !i.keeps;
        add(i.keeps ? "restore kept" : "restore dropped");
      }
      if (!line.empty()) trace_.push_back(name + line);
    }
    if (transport.closed() != closed_) {
      closed_ = !closed_;
      trace_.push_back(closed_ ? "nodes closed" : "nodes reopened");
    }
  }

  // What the reports from sent[i] on are: a handshake request, or a
  // configuration pass's reports, recognised by building them again.
  std::string decode(const Interface& at, const std::vector<FakeHidTransport::SentReport>& sent,
                     size_t& i) {
    const int32_t type = at.model->type;
    const auto& first = sent[i].bytes;
    uint8_t sequence = 0;
    const size_t n = configurationReports(type, 0, 0, sequence).size();
    if (n > 0 && i + n <= sent.size() && !first.empty()) {
      uint8_t m = 0, h = 0, s = 0;
      const auto& last = sent[i + n - 1].bytes;
      switch (type) {
        case 1:
          m = first.size() > 1 ? first[1] : 0;
          h = last.size() > 3 ? last[3] : 0;
          s = last.size() > 1 ? (last[1] - 1) & 0x0F : 0;
          break;
        case 2:
          m = first.size() > 5 ? first[5] : 0;
          h = last.size() > 5 ? last[5] : 0;
          break;
        case 6:
          m = first.size() > 6 ? first[6] : 0;
          break;
        case 10:
          m = first.size() > 5 ? first[5] : 0;
          break;
      }
      uint8_t again = s;
      const auto pass = configurationReports(type, m, h, again);
      bool same = true;
      for (size_t k = 0; k < n; ++k) same = same && pass[k].bytes == sent[i + k].bytes;
      if (same) {
        i += n;
        return "masks " + hex(m) + " " + hex(h) +
               (type == 1 ? " seq " + std::to_string(again & 0x0F) : "");
      }
    }
    ++i;
    if (first == type1Request() || first == type2Request() || first == type6Request(first.size())) {
      return "identify";
    }
    if (first == type1FollowUp()) return "follow-up";
    return hexOf(first);
  }

  bool createEventTaps() override { return tapsWork_; }
  void toggleOverlay(int32_t) override {}
  void spotlightPressed() override {}
  void setOverlayShown(bool, int32_t) override {}
  void hideOverlayIfVisible() override { trace_.push_back("overlay hidden"); }
  bool spotlightHeld() const override { return false; }
  void line(std::string_view text) override { trace_.push_back("log: " + std::string(text)); }
  void debug(std::string_view text) override { line(text); }

  std::vector<std::string> trace_;
  bool tapsWork_ = true;
  bool showTimers_ = false;
  bool showRegistry_ = false;
  bool showWaits_ = false;
  std::deque<VirtualMouse> variants_;  // mice plugged with a serial number of their own
  ManualMainThread mainThread_;
  std::vector<std::string> notices_;  // raised, not yet in the trace
  bool closed_ = false;
  std::deque<Interface> plugged_;
  std::map<std::string, int> models_;
  std::unique_ptr<DeviceLayer> layer_;
};

// Runs the commands of a trace and compares the trace they make with it.
// VELT_PRINT_TRACES=1 prints each trace made, to write a new one from.
void expectTraceText(DeviceTraceRig& rig, const std::string& expected) {
  const std::string actual = rig.traceOf(expected);
  EXPECT_EQ(actual, expected);
  if (std::getenv("VELT_PRINT_TRACES")) std::printf("=====\n%s=====\n", actual.c_str());
}

// The same for a raw string that starts with a newline.
void expectTrace(DeviceTraceRig& rig, std::string_view expected) {
  expected.remove_prefix(1);
  expectTraceText(rig, std::string(expected));
}

// The traces kept as files, tests/device/traces/*.trace: each part between
// "----" lines runs on a fresh rig.
std::vector<std::filesystem::path> traceFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(VELT_SOURCE_DIR) / "tests/device/traces")) {
    if (entry.path().extension() == ".trace") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class DeviceTraceFile : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(DeviceTraceFile, RunsAsWritten) {
  std::istringstream in(readFile(GetParam()));
  std::string part, line;
  auto runPart = [&] {
    DeviceTraceRig rig;
    expectTraceText(rig, part);
    part.clear();
  };
  while (std::getline(in, line)) {
    if (line == "----") {
      runPart();
    } else {
      part += line + "\n";
    }
  }
  runPart();
}

INSTANTIATE_TEST_SUITE_P(Traces, DeviceTraceFile, ::testing::ValuesIn(traceFiles()),
                         [](const auto& info) { return info.param.stem().string(); });

TEST(DeviceTraceTest, EveryShippedModelHasAVirtualMouseRecognisedAsIt) {
  DeviceTraceRig rig;
  rig.run("start");
  for (const VirtualMouse& m : virtualMice()) {
    if (m.type != kDeviceOtherMouse) rig.run("plug " + m.model);
  }
  // So the tests and the simulator cover every model the agent supports.
  std::set<std::string> listed;
  for (int32_t i = 0; i < rig.layer().countSelectableDevices(); ++i) {
    DeviceRecord record = rig.layer().describeDevice(i);
    EXPECT_EQ(record.modelId, virtualMouse(record.name).modelNumber) << record.name;
    EXPECT_EQ(record.type, rig.catalogue.at(record.name).type) << record.name;
    EXPECT_TRUE(listed.insert(record.name).second) << record.name << " listed twice";
  }
  std::set<std::string> shipped;
  for (const auto& [name, model] : rig.catalogue) shipped.insert(name);
  EXPECT_EQ(listed, shipped);
}

TEST(DeviceTraceTest, OtherMiceNeedAModelOfTheirOwn) {
  DeviceTraceRig without;
  expectTrace(without, R"(
start
  log: initial lib...
plug Other_mouse/0
tick 3
  notice: no mouse
  overlay hidden
)");
  DeviceTraceRig with([](ModelCatalogue& catalogue) {
    const VirtualMouse& other = virtualMouse("Other mouse");
    ModelDefinition generic;
    generic.name = "Any mouse";
    generic.type = kDeviceOtherMouse;
    generic.modelId = 99;
    generic.usbVid = other.vendorId;
    generic.usbPid = other.productId;
    generic.buttonMask = 0x1E;
    generic.buttonPos.resize(5);
    catalogue[generic.name] = generic;
  });
  expectTrace(with, R"(
start
  log: initial lib...
plug Other_mouse/0
  log: device 1: Any mouse (type 254, model 0)
tick 3
  notice: Any mouse (key 1) at 0
pass
)");
}

// A mouse that comes and goes a hundred times a second, and one whose node
// may not be opened doing the same: a line of each kind, then the next one
// with the count once the interval is over.
TEST(DeviceTraceTest, AMouseThatKeepsComingAndGoingIsLoggedOnceThenCounted) {
  FakeClock logTime;
  setLogClock(&logTime);
  DeviceTraceRig rig;
  rig.run("start");
  for (int i = 0; i < 100; ++i) {
    for (const char* command :
         {"plug QR-350 as A", "unplug A", "plug QR-460/0 as B denied", "unplug B"}) {
      rig.run(command);
    }
  }
  logTime.advance(kRepeatInterval);
  expectTrace(rig, R"(
plug QR-350 as A
  log: device 302: QR-350 (type 1, model -1) (and 99 more like it since)
  log: device 301: QR-350 (type 1, model 53) (and 99 more like it since)
  A/0: identify, follow-up
  A/1: read
unplug A
  log: device 301 removed (and 99 more like it since)
  log: device 302 removed (and 99 more like it since)
plug QR-460/0 as B denied
  log: cannot open virtual-hidraw0 (0C45:7E29): Permission denied. Give your user read and write access to the mouse's hidraw nodes with the udev rule described in the README ("Access to the mice"), then plug the mouse in again (and 99 more like it since)
unplug B
)");
  setLogClock(nullptr);
}

}  // namespace
}  // namespace velt::testing
