// How long a motion event takes through the input thread while the main
// thread is busy: the overlay is up (so every motion asks for a redraw) and
// the main thread spends 50 ms at a time on other work.
//
// With /dev/uhid and /dev/uinput: from a report of a virtual HID mouse to the
// event coming out of its grabbed node's virtual copy. Without them: from a
// frame written to a pipe that stands in for the grabbed node, through the
// input thread, the frame filter and the taps, to the copy's write (no kernel
// on either side).
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "core/serial_queue.h"
#include "overlay/overlay_controller.h"
#include "platform/input/evdev_takeover.h"
#include "platform/input/input_loop.h"
#include "tools/uhid/uhid_device.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kEvents = 3000;
constexpr auto kEventInterval = 1ms;
constexpr auto kBusySlice = 50ms;

struct NoButtons : ButtonMaskSink {
  bool deviceActive() const override { return true; }
  void postButtonMask(uint8_t) override {}
};

struct NoOutput : PointerOutput {
  void postScrollEvent(double, double) override {}
  void volumeStep(bool) override {}
};

// A main thread that runs its queue only between long stretches of work.
class BusyMainThread : public MainThread {
 public:
  void post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  // Works in 50 ms slices until done is set, running the queue in between.
  void run(const std::atomic<bool>& done) {
    while (!done) {
      auto until = Clock::now() + kBusySlice;
      while (Clock::now() < until) {
      }
      ++slices;
      std::deque<std::function<void()>> tasks;
      {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
      }
      for (auto& task : tasks) task();
    }
  }
  int slices = 0;

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

struct NullWindow : OverlayWindowPort {
  int redraws = 0;
  void setMode(int32_t) override {}
  void saveScreen() override {}
  void fadeIn() override {}
  void fadeOut() override {}
  void hideWindow() override {}
  void redrawScreen() override { ++redraws; }
  void setNeedsDisplay() override {}
};

// The pointer-mode state with the overlay up, as during a presentation.
struct Setup {
  PointerModeState modes;
  Settings settings;
  NoButtons buttons;
  NoOutput output;
  BusyMainThread mainThread;
  TimerThread timers;
  NullWindow window;
  OverlayController overlay{settings, [] {}, mainThread, timers};
  PointerTaps taps{modes, settings, &buttons, output, overlay, timers};

  Setup() {
    overlay.attach(&window, &taps);
    overlay.setOverlayShown(true, kDrawSpotlight);
    taps.scheduleMotionTapUpdate(0);
    taps.scheduleWheelTapUpdate(0);
    while (!taps.motionTapEnabled()) std::this_thread::sleep_for(1ms);
  }
};

void printFigures(const char* path, std::vector<double> micros, const Setup& setup) {
  if (micros.empty()) {
    std::printf("%s: no events came through\n", path);
    return;
  }
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros[static_cast<size_t>(q * (micros.size() - 1))]; };
  std::printf("%s\n", path);
  std::printf("  events %zu, main thread busy in 50 ms slices (%d slices, %d redraws)\n",
              micros.size(), setup.mainThread.slices, setup.window.redraws);
  std::printf("  latency p50 %.1f us, p99 %.1f us, max %.1f us\n", at(0.5), at(0.99),
              micros.back());
}

// The fake node: frames written to a pipe.
class PipeSource : public InputSource {
 public:
  explicit PipeSource(int fd) : fd_(fd) {}
  ~PipeSource() override { close(fd_); }
  int fd() const override { return fd_; }
  bool read(std::vector<input_event>& events) override {
    input_event e;
    for (;;) {
      ssize_t n = ::read(fd_, &e, sizeof e);
      if (n != sizeof e) return n < 0 && errno == EAGAIN;
      events.push_back(e);
    }
  }

 private:
  int fd_;
};

class StampingSink : public InputSink {
 public:
  explicit StampingSink(std::vector<Clock::time_point>& out) : out_(out) {}
  bool write(std::span<const input_event>) override {
    out_.push_back(Clock::now());
    return true;
  }

 private:
  std::vector<Clock::time_point>& out_;
};

void measureWithoutKernel() {
  Setup setup;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  std::vector<Clock::time_point> sent(kEvents), arrived;
  arrived.reserve(kEvents);
  InputLoop loop(setup.taps);
  loop.start();
  loop.post([&, reader = fds[0]] {
    loop.addNode("bench", "bench mouse", std::make_unique<PipeSource>(reader),
                 std::make_unique<StampingSink>(arrived));
  });
  std::atomic<bool> done{false};
  std::thread sender([&] {
    for (int i = 0; i < kEvents; ++i) {
      input_event frame[3] = {};
      frame[0].type = EV_REL;
      frame[0].code = REL_X;
      frame[0].value = 1;
      frame[1].type = EV_REL;
      frame[1].code = REL_Y;
      frame[1].value = 1;
      frame[2].type = EV_SYN;
      frame[2].code = SYN_REPORT;
      sent[i] = Clock::now();
      (void)!write(fds[1], frame, sizeof frame);
      std::this_thread::sleep_for(kEventInterval);
    }
    std::this_thread::sleep_for(20ms);
    done = true;
  });
  setup.mainThread.run(done);
  sender.join();
  loop.stop();
  close(fds[1]);
  std::vector<double> micros;
  for (size_t i = 0; i < arrived.size() && i < sent.size(); ++i) {
    micros.push_back(std::chrono::duration<double, std::micro>(arrived[i] - sent[i]).count());
  }
  printFigures("input thread, decision and forward (pipe in, fake copy out; no /dev/uinput)",
               micros, setup);
}

std::string findCopyNode(const std::string& name) {
  for (int attempt = 0; attempt < 250; ++attempt, std::this_thread::sleep_for(20ms)) {
    udev* u = udev_new();
    udev_enumerate* list = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(list, "input");
    udev_enumerate_add_match_sysname(list, "event*");
    udev_enumerate_scan_devices(list);
    std::string found;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
      udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
      udev_device* input = udev_device_get_parent_with_subsystem_devtype(d, "input", nullptr);
      const char* n = input ? udev_device_get_sysattr_value(input, "name") : nullptr;
      if (n && name == n &&
          std::string(udev_device_get_syspath(input)).starts_with("/sys/devices/virtual/input/")) {
        found = udev_device_get_devnode(d);
      }
      udev_device_unref(d);
    }
    udev_enumerate_unref(list);
    udev_unref(u);
    if (!found.empty()) return found;
  }
  return "";
}

bool measureWithKernel() {
  if (access("/dev/uinput", W_OK) != 0 || access("/dev/uhid", W_OK) != 0) return false;
  Setup setup;
  const std::string name = "velt latency mouse";
  UhidDeviceSetup mouseSetup;
  mouseSetup.name = name;
  mouseSetup.vendor = 0x0C45;
  mouseSetup.product = 0x7E20;
  // Three buttons, then x, y and wheel as signed bytes.
  mouseSetup.descriptor = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05,
                           0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03,
                           0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05,
                           0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7F,
                           0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};
  std::string error;
  auto mouse = UhidDevice::create(mouseSetup, {}, &error);
  if (!mouse) {
    std::printf("kernel path: %s\n", error.c_str());
    return false;
  }
  EvdevTakeover takeover(setup.taps, setup.timers);
  takeover.createEventTaps();
  takeover.registeredDevicesChanged({{0x0C45, 0x7E20}});
  std::string copy = findCopyNode(name);
  if (copy.empty()) {
    std::printf("kernel path: the virtual copy did not appear\n");
    return false;
  }
  int copyFd = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<Clock::time_point> sent(kEvents), arrived;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    input_event e;
    while (arrived.size() < static_cast<size_t>(kEvents)) {
      pollfd p{copyFd, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0 || read(copyFd, &e, sizeof e) != sizeof e) break;
      if (e.type == EV_SYN && e.code == SYN_REPORT) arrived.push_back(Clock::now());
    }
  });
  std::thread sender([&] {
    for (int i = 0; i < kEvents; ++i) {
      sent[i] = Clock::now();
      const uint8_t report[] = {0, 1, 1, 0};
      mouse->sendInput(report);
      std::this_thread::sleep_for(kEventInterval);
    }
    std::this_thread::sleep_for(20ms);
    done = true;
  });
  setup.mainThread.run(done);
  sender.join();
  reader.join();
  close(copyFd);
  std::vector<double> micros;
  for (size_t i = 0; i < arrived.size(); ++i) {
    micros.push_back(std::chrono::duration<double, std::micro>(arrived[i] - sent[i]).count());
  }
  printFigures("kernel path: uhid report -> grabbed node -> input thread -> uinput copy", micros,
               setup);
  return true;
}

}  // namespace
}  // namespace velt

int main() {
  if (!velt::measureWithKernel()) {
    std::printf("/dev/uinput or /dev/uhid missing: measuring the input thread alone\n");
  }
  velt::measureWithoutKernel();
  return 0;
}
