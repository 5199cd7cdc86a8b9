// The device layer driven from the test's own thread, one plain-text command
// at a time, and what it did written down as plain text: the reports each
// mouse was sent (decoded), the button functions run, the notices the window
// got, the log lines. A trace is the commands, each followed by its effects
// indented by two spaces; DeviceTraceRig::traceOf runs the commands of an
// expected trace and returns the trace they make.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/device_layer.h"
#include "testing/fake_hid_transport.h"
#include "tests/support/test_support.h"

namespace velt::testing {

// Runs the layer's work when the rig says so: queued tasks in order, then
// jobs one at a time, unless they are held (a request still waiting).
class ManualDeviceWork final : public DeviceWork {
 public:
  void startListener(std::function<bool()> open, std::function<void()> listen) override;
  void joinListener() override { listen_ = nullptr; }
  void openQueue() override { queueOpen_ = true; }
  bool post(std::function<void()> task) override;
  void closeQueue() override;
  void startJob(bool handshake, std::function<void()> job) override;
  void awaitIdentification() override { runAll(); }
  void awaitJobs(const Clock&, Clock::TimePoint) override {}
  bool jobsLeft() override { return !jobs_.empty(); }

  // Until nothing is left to run: the listener's events, the tasks, the jobs.
  void runAll();
  bool holdJobs = false;
  FakeHidTransport* transport = nullptr;

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
  explicit DeviceTraceRig(const std::function<void(ModelCatalogue&)>& adjust = {});
  ~DeviceTraceRig();

  // The trace that the commands of expected make.
  std::string traceOf(const std::string& expected);
  // One command; its effects go to the trace.
  void run(const std::string& command);

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
  // Everything the layer does now, then what it did.
  void settle();
  void collect();
  std::vector<Interface*> interfaces(const std::string& name);
  Interface& buttonInterface(const std::string& name);
  void plug(const std::string& model, const std::string& name, std::optional<size_t> only,
            int openError);
  std::string decode(const Interface& at, const std::vector<FakeHidTransport::SentReport>& sent,
                     size_t& i);

  bool createEventTaps() override { return tapsWork_; }
  void setTakingOver(bool takeOver) override;
  void toggleOverlay(int32_t) override {}
  void spotlightPressed() override {}
  void setOverlayShown(bool, int32_t) override {}
  void hideOverlayIfVisible() override { trace_.push_back("overlay hidden"); }
  bool spotlightHeld() const override { return false; }
  void registeredDevicesChanged(const std::vector<UsbId>& devices) override;
  void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) override;
  void line(std::string_view text) override { trace_.push_back("log: " + std::string(text)); }
  void debug(std::string_view text) override { line(text); }
  void runAfter(std::string_view label, Clock::Duration delay, std::function<void()> task) override;

  std::vector<std::string> trace_;
  bool tapsWork_ = true;
  bool showTimers_ = false;
  bool showRegistry_ = false;
  ManualMainThread mainThread_;
  bool closed_ = false;
  std::deque<Interface> plugged_;
  std::map<std::string, int> models_;
  std::unique_ptr<DeviceLayer> layer_;
};

}  // namespace velt::testing
