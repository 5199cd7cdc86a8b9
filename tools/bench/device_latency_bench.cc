// Measures the device layer over virtual mice: how long a button report takes
// from its arrival to the call of runButtonFunction, how often the layer's
// threads wake up while nothing happens, and, with the window calling in all
// the while, the first mouse's button latency and the longest window call,
// first with every mouse answering, then while a second mouse keeps its
// handshake waiting as a silent device does for the kernel's 5 s.
//
//   velt-device-bench [reports] [idle seconds] [paced seconds]
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "device/device_layer.h"
#include "testing/fake_hid_transport.h"

namespace {

using Clock = std::chrono::steady_clock;

class QuietLog : public velt::LogSink {
 public:
  void line(std::string_view) override {}
  void debug(std::string_view) override {}
};

class NoTaps : public velt::EventTaps {
 public:
  bool createEventTaps() override { return true; }
  void setTakingOver(bool) override {}
};

class DroppingMainThread : public velt::MainThread {
 public:
  void post(std::function<void()>) override {}
};

// Notes the moment of each call and wakes whoever waits for it.
class TimingRunner : public velt::ButtonFunctionRunner {
 public:
  void runButtonFunction(uint8_t, int, uint8_t, uint8_t) override {
    const auto now = Clock::now();
    {
      std::lock_guard lock(mutex_);
      last_ = now;
      ++calls_;
    }
    called_.notify_one();
  }
  Clock::time_point waitForCall(uint64_t count) {
    std::unique_lock lock(mutex_);
    called_.wait(lock, [&] { return calls_ >= count; });
    return last_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable called_;
  uint64_t calls_ = 0;
  Clock::time_point last_;
};

// Context switches of every thread of this process but the calling one: each
// is a wake-up.
uint64_t wakeUpsOfOtherThreads() {
  const std::string self = std::to_string(gettid());
  uint64_t total = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return 0;
  while (dirent* entry = readdir(tasks)) {
    const std::string tid = entry->d_name;
    if (tid == "." || tid == ".." || tid == self) continue;
    std::ifstream status("/proc/self/task/" + tid + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("voluntary_ctxt_switches:") ||
          line.starts_with("nonvoluntary_ctxt_switches:")) {
        total += std::strtoull(line.substr(line.find(':') + 1).c_str(), nullptr, 10);
      }
    }
  }
  closedir(tasks);
  return total;
}

double percentile(std::vector<double>& sorted, double p) {
  const size_t index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int reports = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
  const int silentSeconds = argc > 3 ? std::atoi(argv[3]) : 5;
  QuietLog quiet;
  velt::setLogSink(&quiet);

  velt::Settings settings;
  settings.StandardButtonAssignments[3].store({13, 0, 0});
  const velt::VirtualMouse& mouse = velt::virtualMouse("QR-350");
  velt::ModelDefinition model;
  model.name = mouse.model;
  model.type = mouse.type;
  model.modelId = mouse.modelNumber;
  model.usbVid = mouse.vendorId;
  model.usbPid = mouse.productId;
  model.buttonMask = 0x1E;
  model.buttonPos.resize(5);
  velt::ModelCatalogue catalogue;
  catalogue.emplace(model.name, model);
  catalogue.classes = velt::loadModelCatalogue(VELT_MODEL_FOLDER).classes;

  velt::FakeHidTransport transport;
  TimingRunner runner;
  NoTaps taps;
  DroppingMainThread mainThread;
  velt::DeviceLayer layer({settings, catalogue, transport, runner, taps, mainThread,
                           velt::systemClock(), velt::systemClock(), nullptr});
  if (!layer.initDeviceLayer()) return 1;

  auto ids = transport.plugAll(mouse);
  const auto buttons = ids[mouse.buttonInterface()];
  transport.sync();
  layer.waitForIdentification();
  while (!layer.settled()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  layer.selectDevice(0);  // as the window's picker does: the mouse is now active

  const auto pressed = mouse.buttonReport(0x08);
  const auto released = mouse.buttonReport(0x00);
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(reports));
  for (int i = 0; i < reports; ++i) {
    const auto sent = Clock::now();
    transport.sendInput(buttons, i % 2 == 0 ? pressed : released);
    const auto called = runner.waitForCall(static_cast<uint64_t>(i) + 1);
    latencies.push_back(microseconds(called - sent));
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf(
      "report arrival -> runButtonFunction over %d reports: p50 %.1f us, p99 %.1f us, "
      "max %.1f us\n",
      reports, percentile(latencies, 0.50), percentile(latencies, 0.99), latencies.back());

  while (!layer.settled()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const uint64_t before = wakeUpsOfOtherThreads();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const uint64_t after = wakeUpsOfOtherThreads();
  std::printf("idle device layer: %.2f wake-ups per second over %d s\n",
              static_cast<double>(after - before) / idleSeconds, idleSeconds);

  // The window, every 2 ms (a rebuild's look-ups and a selection; a commit
  // now and then), and meanwhile the first mouse's button every 5 ms, for
  // the given time: once as they are, then while a second mouse keeps its
  // handshake waiting. The paced presses find the layer's threads asleep, as
  // a user's do; the back-to-back reports above keep them awake.
  uint64_t calls = static_cast<uint64_t>(reports);
  auto windowAndPresses = [&](int seconds, const char* what) {
    const auto ends = Clock::now() + std::chrono::seconds(seconds);
    double longestStall = 0;
    int windowCalls = 0;
    std::thread window([&] {
      while (Clock::now() < ends) {
        const auto start = Clock::now();
        const int count = layer.countSelectableDevices();
        layer.describeDevice(layer.selectedDeviceIndex());
        layer.selectDevice(count > 0 ? 0 : -1);
        if (windowCalls % 50 == 0) layer.armConfigCountdown(1);
        longestStall = std::max(longestStall, microseconds(Clock::now() - start));
        ++windowCalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    std::vector<double> during;
    for (int i = 0; Clock::now() < ends; ++i) {
      const auto sent = Clock::now();
      transport.sendInput(buttons, i % 2 == 0 ? pressed : released);
      during.push_back(microseconds(runner.waitForCall(++calls) - sent));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    window.join();
    std::sort(during.begin(), during.end());
    std::printf(
        "%s: window calls (%d) longest %.1f us; mouse A's button over %zu reports: p50 %.1f "
        "us, p99 %.1f us, max %.1f us\n",
        what, windowCalls, longestStall, during.size(), percentile(during, 0.50),
        percentile(during, 0.99), during.back());
  };
  while (!layer.settled()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  windowAndPresses(silentSeconds, "paced, all mice answering");

  // A second mouse that never answers: its handshake waits silentSeconds
  // for its first request, as the kernel waits for a uhid device.
  const auto silent = transport.plugSilent(mouse, 0);
  while (transport.heldRequests(silent) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  char during[64];
  std::snprintf(during, sizeof during, "paced, during a %d s silent handshake", silentSeconds);
  windowAndPresses(silentSeconds, during);
  if (transport.heldRequests(silent) == 0) std::printf("(the handshake ended early!)\n");
  transport.releaseRequests();

  layer.stop();
  velt::setLogSink(nullptr);
  return 0;
}
