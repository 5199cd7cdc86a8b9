// The input takeover against a real kernel: a mouse with a supported model's
// ids, made through /dev/uhid, is grabbed; its virtual copy appears through
// /dev/uinput with the same name, ids and wheel; events flow through the taps;
// a node another program holds is left alone; and a mouse that leaves takes
// its copy along without leaving anything pressed. Runs in the test guest;
// elsewhere exits 77 (skipped) unless /dev/uinput and /dev/uhid can be used.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/log.h"
#include "core/serial_queue.h"
#include "platform/evdev_takeover.h"
#include "tests/e2e/guest_support.h"
#include "tests/overlay/overlay_fakes.h"
#include "tools/uhid/uhid_device.h"

namespace velt::e2e {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;
constexpr auto kQuiet = 300ms;
constexpr UsbId kMouseId{0x0C45, 0x7E20};

// Five buttons, then x, y and wheel as signed bytes.
const std::vector<uint8_t> kMouseDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x03, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
    0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};

bool usable(const char* path) {
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWait) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

struct LogLines : LogSink {
  std::mutex mutex;
  std::vector<std::string> lines;
  void line(std::string_view text) override {
    std::lock_guard lock(mutex);
    lines.emplace_back(text);
  }
  void debug(std::string_view text) override { line(text); }
  size_t count(std::string_view needle) {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const auto& l : lines) n += l.find(needle) != std::string::npos;
    return n;
  }
};

struct Dispatcher : ButtonMaskSink {
  mutable std::mutex mutex;
  std::vector<uint8_t> masks;
  bool deviceActive() const override { return true; }
  void postButtonMask(uint8_t mask) override {
    std::lock_guard lock(mutex);
    masks.push_back(mask);
  }
  uint8_t last() const {
    std::lock_guard lock(mutex);
    return masks.empty() ? 0xFF : masks.back();
  }
};

struct Output : PointerOutput {
  std::atomic<int> scrolls{0};
  std::atomic<int> volumeUps{0};
  void postScrollEvent(double, double) override { ++scrolls; }
  void volumeStep(bool up) override { volumeUps += up; }
};

// The taps with everything they talk to.
struct Taps {
  PointerModeState modes;
  Settings settings;
  Dispatcher dispatcher;
  Output output;
  testing::FakeOverlayTarget overlay;
  TimerThread timers;
  PointerTaps taps{modes, settings, &dispatcher, output, overlay, timers};

  void setMotionMode(int32_t mode) {
    modes.motionMode = mode;
    taps.scheduleMotionTapUpdate(0);
    waitUntil([&] { return taps.motionTapEnabled() == (mode != 0); });
  }
  void setWheelMode(int32_t mode) {
    modes.wheelMode = mode;
    taps.scheduleWheelTapUpdate(0);
    waitUntil([&] { return taps.wheelTapEnabled() == (mode != 0); });
  }
};

std::unique_ptr<UhidDevice> plugMouse(Markers& markers, const std::string& name) {
  UhidDeviceSetup setup;
  setup.name = name;
  setup.phys = "velt-e2e/" + name;
  setup.uniq = name;
  setup.vendor = static_cast<uint32_t>(kMouseId.vendorId);
  setup.product = static_cast<uint32_t>(kMouseId.productId);
  setup.descriptor = kMouseDescriptor;
  std::string error;
  auto mouse = UhidDevice::create(setup, {}, &error);
  markers.check(mouse != nullptr, "plug " + name, error);
  return mouse;
}

void report(UhidDevice& mouse, uint8_t buttons, int8_t x, int8_t y, int8_t wheel = 0) {
  const uint8_t data[] = {buttons, static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                          static_cast<uint8_t>(wheel)};
  mouse.sendInput(data);
}

// The event node named name other than real, once it is there.
std::string waitForCopy(const std::string& name, const std::string& real) {
  std::string copy;
  waitUntil([&] {
    for (const auto& node : eventNodesNamed(name)) {
      if (node != real) copy = node;
    }
    return !copy.empty();
  });
  return copy;
}

bool grabFails(const std::string& node, int expectedErrno) {
  int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
  bool failed = ::ioctl(fd, EVIOCGRAB, 1) != 0 && errno == expectedErrno;
  ::close(fd);
  return failed;
}

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

void takeoverAndPassThrough(Markers& m, LogLines& log) {
  Taps t;
  const std::string name = "velt takeover mouse";
  auto mouse = plugMouse(m, name);
  if (!mouse) return;
  auto nodes = waitForHidNodes("HID_UNIQ", name, 1, kWait);
  if (!m.check(nodes.has_value(), "mouse event node appears")) return;
  const std::string real = nodes->events.front();

  EvdevTakeover takeover(t.taps, t.timers);
  m.check(takeover.createEventTaps(), "input thread starts");
  // A button held at that moment: the takeover waits until it is up.
  report(*mouse, 0x01, 0, 0);
  takeover.registeredDevicesChanged({kMouseId});
  std::this_thread::sleep_for(kQuiet);
  m.check(eventNodesNamed(name).size() == 1, "no takeover while a button is down");
  report(*mouse, 0x00, 0, 0);
  const std::string copy = waitForCopy(name, real);
  if (!m.check(!copy.empty(), "virtual copy appears")) return;
  m.check(sameDevice(real, copy), "copy has the mouse's ids and wheel");
  m.check(waitUntil([&] { return grabFails(real, EBUSY); }), "mouse node is grabbed");
  m.check(log.count("took over " + real) == 1, "takeover is logged once");

  EventReader reader(copy);
  if (!m.check(reader.ok(), "open the copy", reader.error())) return;
  report(*mouse, 0, 5, -3);
  auto moved = reader.frame(kWait);
  m.check(contains(moved, EV_REL, REL_X, 5) && contains(moved, EV_REL, REL_Y, -3),
          "motion passes through");

  t.setMotionMode(kMotionScroll);
  report(*mouse, 0, 0, 4);
  m.check(waitUntil([&] { return t.output.scrolls > 0; }), "motion scroll posts a scroll");
  m.check(reader.frame(kQuiet).empty(), "the pointer is held while motion scrolls");
  t.setMotionMode(kMotionOff);

  t.setWheelMode(kWheelVolume);
  report(*mouse, 0, 0, 0, 1);
  m.check(waitUntil([&] { return t.output.volumeUps == 1; }), "wheel volume steps up");
  m.check(reader.frame(kQuiet).empty(), "the wheel is swallowed in volume mode");
  t.setWheelMode(kWheelOff);

  t.settings.interceptMask = 0x04;
  report(*mouse, 0x04, 0, 0);
  report(*mouse, 0x00, 0, 0);
  report(*mouse, 0x00, 1, 0);
  auto next = reader.frame(kWait);
  m.check(contains(next, EV_REL, REL_X, 1) && !contains(next, EV_KEY, BTN_MIDDLE, 1),
          "assigned middle button is taken");
  {
    std::lock_guard lock(t.dispatcher.mutex);
    m.check(t.dispatcher.masks == std::vector<uint8_t>{0x04, 0x00},
            "middle button reaches the dispatcher");
  }

  takeover.registeredDevicesChanged({});
  m.check(waitForGone(copy, kWait), "copy leaves when the mouse is no longer registered");
  m.check(waitUntil([&] { return !grabFails(real, EBUSY); }), "the system has the mouse back");
}

void unplugWithButtonsDown(Markers& m) {
  Taps t;
  const std::string name = "velt unplugged mouse";
  auto mouse = plugMouse(m, name);
  if (!mouse) return;
  auto nodes = waitForHidNodes("HID_UNIQ", name, 1, kWait);
  if (!m.check(nodes.has_value(), "unplug: mouse node appears")) return;
  EvdevTakeover takeover(t.taps, t.timers);
  takeover.createEventTaps();
  takeover.registeredDevicesChanged({kMouseId});
  const std::string copy = waitForCopy(name, nodes->events.front());
  if (!m.check(!copy.empty(), "unplug: copy appears")) return;

  EventReader reader(copy);
  t.settings.interceptMask = 0x08;
  report(*mouse, 0x01 | 0x08, 0, 0);
  auto pressed = reader.frame(kWait);
  m.check(contains(pressed, EV_KEY, BTN_LEFT, 1) && !contains(pressed, EV_KEY, BTN_SIDE, 1),
          "unplug: left passes, assigned side button is taken");
  m.check(waitUntil([&] { return t.dispatcher.last() == 0x08; }), "unplug: side button down");
  mouse.reset();
  m.check(waitForGone(copy, kWait), "unplug: the copy leaves with the mouse");
  m.check(waitUntil([&] { return t.dispatcher.last() == 0x00; }),
          "unplug: the dispatcher hears the side button go up");
}

void heldByAnotherProgram(Markers& m, LogLines& log) {
  Taps t;
  const std::string name = "velt held mouse";
  auto mouse = plugMouse(m, name);
  if (!mouse) return;
  auto nodes = waitForHidNodes("HID_UNIQ", name, 1, kWait);
  if (!m.check(nodes.has_value(), "held: mouse node appears")) return;
  const std::string real = nodes->events.front();
  int holder = ::open(real.c_str(), O_RDONLY | O_CLOEXEC);
  if (!m.check(::ioctl(holder, EVIOCGRAB, 1) == 0, "held: another program grabs it")) return;

  EvdevTakeover takeover(t.taps, t.timers);
  takeover.createEventTaps();
  takeover.registeredDevicesChanged({kMouseId});
  takeover.registeredDevicesChanged({kMouseId});
  m.check(waitUntil([&] { return log.count("is held by another program") > 0; }),
          "held: the busy node is reported");
  std::this_thread::sleep_for(kQuiet);
  m.check(log.count("is held by another program") == 1, "held: reported once");
  m.check(eventNodesNamed(name).size() == 1, "held: no copy is made");
  ::close(holder);
}

}  // namespace
}  // namespace velt::e2e

int main() {
  if (!velt::e2e::usable("/dev/uinput") || !velt::e2e::usable("/dev/uhid")) {
    std::printf("skipped: needs /dev/uinput and /dev/uhid\n");
    return 77;
  }
  velt::e2e::LogLines log;
  velt::setLogSink(&log);
  velt::e2e::Markers markers;
  velt::e2e::takeoverAndPassThrough(markers, log);
  velt::e2e::unplugWithButtonsDown(markers);
  velt::e2e::heldByAnotherProgram(markers, log);
  velt::setLogSink(nullptr);
  return markers.failures() == 0 ? 0 : 1;
}
