#include "tests/device/device_trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "device/vendor_reports.h"

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

}  // namespace

void ManualDeviceWork::startListener(std::function<bool()> open, std::function<void()> listen) {
  open_ = std::move(open);
  listen_ = std::move(listen);
  transport->setStepped(true);
}

bool ManualDeviceWork::post(std::function<void()> task) {
  if (!queueOpen_) return false;
  tasks_.push_back(std::move(task));
  return true;
}

void ManualDeviceWork::closeQueue() {
  if (!queueOpen_) return;
  while (!tasks_.empty()) {
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    task();
  }
  queueOpen_ = false;
}

void ManualDeviceWork::startJob(bool, std::function<void()> job) {
  jobs_.push_back(std::move(job));
}

void ManualDeviceWork::runAll() {
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

void DeviceTraceRig::setTakingOver(bool takeOver) {
  trace_.push_back(takeOver ? "taps take the mice" : "taps give the mice back");
}

void DeviceTraceRig::runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) {
  std::string line = "function " + std::to_string(code) + (pressed ? " down" : " up");
  if (op1 || op2) line += " " + hex(op1) + " " + hex(op2);
  trace_.push_back(line);
}

void DeviceTraceRig::runAfter(std::string_view label, Clock::Duration delay,
                              std::function<void()> task) {
  if (showTimers_) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
    trace_.push_back("timer: " + std::string(label) + " in " + std::to_string(ms) + " ms");
  }
  ticks.runAfter(label, delay, std::move(task));
}

void DeviceTraceRig::registeredDevicesChanged(const std::vector<UsbId>& devices) {
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

DeviceTraceRig::DeviceTraceRig(const std::function<void(ModelCatalogue&)>& adjust)
    : catalogue(loadModelCatalogue(sourceResources() / "model")) {
  if (adjust) adjust(catalogue);
  // Button 3 (mask 0x08) copies unless a trace assigns it otherwise.
  settings.StandardButtonAssignments[3].store({13, 0, 0});
  work.transport = &transport;
  setLogSink(this);
  layer_ = std::make_unique<DeviceLayer>(DeviceLayerServices{
      settings, catalogue, transport, *this, *this, mainThread_, clock, *this, this, false, &work});
  layer_->setRegistryObserver(this);
  layer_->setFatalErrorHandler([this] { trace_.push_back("fatal error"); });
}

DeviceTraceRig::~DeviceTraceRig() {
  work.holdJobs = false;
  layer_->stop();
  work.runAll();
  layer_.reset();
  setLogSink(nullptr);
}

std::string DeviceTraceRig::traceOf(const std::string& expected) {
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

std::vector<DeviceTraceRig::Interface*> DeviceTraceRig::interfaces(const std::string& name) {
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

DeviceTraceRig::Interface& DeviceTraceRig::buttonInterface(const std::string& name) {
  Interface* any = interfaces(name)[0];
  return *interfaces(any->mouse + "/" + std::to_string(any->model->buttonInterface()))[0];
}

void DeviceTraceRig::plug(const std::string& model, const std::string& name,
                          std::optional<size_t> only, int openError) {
  const VirtualMouse& m = virtualMouse(model);
  for (size_t i = 0; i < m.interfaces.size(); ++i) {
    if (only && *only != i) continue;
    plugged_.push_back({name, i, &m, transport.plug(m, i, openError)});
  }
}

// Commands, one a line (NAME: a mouse as plugged, MODEL or MODEL'2 or as
// named; NAME/i one of its interfaces; _ for a space in MODEL; hex masks):
//   start, mice MODEL..., stop, quit, leave, return, wake, pass, await
//   plug MODEL[/i] [as NAME] [denied], plug-raw VID PID BYTES..., unplug NAME[/i]
//   silent NAME, answers NAME, vanish NAME/i after N
//   press NAME MASK [EXTRA], input NAME/i BYTES..., mask MASK
//   tick N (0.2 s countdown ticks), intercept MASK, arm N, notice-in MS
//   assign standard|extra N CODE [OP1 OP2], select N, describe N
//   hold jobs, run jobs, refuse taps, fail open REASON, show timers|registry
void DeviceTraceRig::run(const std::string& command) {
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
  } else if (verb == "await") {
    trace_.push_back(layer_->awaitDeviceChange() ? "notice" : "notice: stopped");
  } else if (verb == "mask") {
    layer_->postButtonMask(hexWord(in));
  } else if (verb == "show") {
    std::string what;
    in >> what;
    (what == "timers" ? showTimers_ : showRegistry_) = true;
  } else if (verb == "leave" || verb == "return") {
    layer_->setSessionActive(verb == "return");
  } else if (verb == "wake") {
    layer_->recheckDevices();
  } else if (verb == "pass") {
    layer_->sendConfiguration();
  } else if (verb == "plug") {
    std::string what, word, name;
    in >> what;
    int openError = 0;
    while (in >> word) {
      if (word == "as") in >> name;
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
         openError);
  } else if (verb == "plug-raw") {
    int vid, pid;
    in >> std::hex >> vid >> pid;
    transport.plugRaw(vid, pid, bytesOf(in));
  } else if (verb == "unplug") {
    std::string name;
    in >> name;
    for (Interface* i : interfaces(name)) transport.unplug(i->id);
  } else if (verb == "silent" || verb == "answers") {
    std::string name;
    in >> name;
    for (Interface* i : interfaces(name))
      transport.failReads(i->id, verb == "silent" ? ETIMEDOUT : 0);
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

void DeviceTraceRig::settle() {
  for (;;) {
    work.runAll();
    if (mainThread_.runPending() > 0) continue;
    if (!layer_->deviceChangePending()) break;
    // The window's refresh loop takes each notice as it comes.
    const std::optional<DeviceRecord> r = layer_->awaitDeviceChange();
    std::string line = "notice: no mouse";
    if (r->type != 0) {
      const int32_t at = layer_->selectedDeviceIndex();
      line = "notice: " + r->name + " (key " + r->key + ") at " + std::to_string(at);
      const int32_t listed = layer_->indexOfSelectedDevice();
      if (listed != at) line += ", listed at " + std::to_string(listed);
    }
    trace_.push_back(line);
  }
  collect();
}

void DeviceTraceRig::collect() {
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
std::string DeviceTraceRig::decode(const Interface& at,
                                   const std::vector<FakeHidTransport::SentReport>& sent,
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

}  // namespace velt::testing
