// The input takeover against a real kernel, where the agent's own guest test
// does not reach: a mouse with a supported model's ids, made through
// /dev/uhid, is grabbed only once its buttons are up; its virtual copy has
// the mouse's ids and wheel; the system gets the mouse back when it is no
// longer registered; a mouse that leaves takes its copy along without
// leaving anything pressed; and a node another program holds is left alone.
// Runs in the test guest; elsewhere exits 77 (skipped) unless /dev/uinput
// and /dev/uhid can be used.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "core/serial_queue.h"
#include "platform/input/evdev_takeover.h"
#include "tests/e2e/guest_support.h"
#include "tests/overlay/overlay_fakes.h"
#include "tools/uhid/uhid_device.h"

namespace velt::e2e {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

constexpr auto kWait = 10s;
constexpr auto kQuiet = 300ms;
constexpr UsbId kMouseId{0x0C45, 0x7E20};

bool usable(const char* path) {
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// A mouse with the supported model's ids plugged through uhid, once its
// event node is there (put in *node); null (reported) if not.
std::unique_ptr<UhidDevice> plugMouse(Markers& m, const std::string& name, std::string* node) {
  UhidDeviceSetup setup;
  setup.name = setup.uniq = name;
  setup.phys = "velt-e2e/" + name;
  setup.vendor = static_cast<uint32_t>(kMouseId.vendorId);
  setup.product = static_cast<uint32_t>(kMouseId.productId);
  setup.descriptor = kPlainMouseDescriptor;
  std::string error;
  auto mouse = UhidDevice::create(setup, {}, &error);
  if (!m.check(mouse != nullptr, "plug " + name, error)) return nullptr;
  auto nodes = waitForHidNodes("HID_UNIQ", name, 1, kWait);
  if (!m.check(nodes.has_value(), name + ": event node appears")) return nullptr;
  *node = nodes->events.front();
  return mouse;
}

// An input report with these buttons down and no motion.
void report(UhidDevice& mouse, uint8_t pressed) {
  const uint8_t data[] = {pressed, 0, 0, 0};
  mouse.sendInput(data);
}

// A mouse plugged through uhid, and the taps and takeover that watch it. No
// pointer mode is held and no overlay shown: the taps only take buttons.
struct Rig : testing::TapsRig {
  std::unique_ptr<UhidDevice> mouse;
  std::string name;
  std::string real;  // the mouse's own event node
  TimerThread timers;
  EvdevTakeover takeover{taps, timers};

  // Plugs the mouse and waits for its event node; false (reported) if not.
  bool plug(Markers& m, const std::string& mouseName) {
    name = mouseName;
    mouse = plugMouse(m, name, &real);
    return mouse && m.check(takeover.createEventTaps(), name + ": input thread starts");
  }

  void report(uint8_t pressed) { e2e::report(*mouse, pressed); }

  std::string waitForCopy() { return e2e::waitForCopy(real, kWait); }
};

bool grabbed(const std::string& node) {
  return EventReader(node).grab() == EBUSY;
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

void takeoverAndHandBack(Markers& m, testing::CaptureLog& log) {
  Rig r;
  if (!r.plug(m, "velt takeover mouse")) return;
  // A button held at that moment: the takeover waits until it is up.
  r.report(0x01);
  r.takeover.registeredDevicesChanged({kMouseId});
  std::this_thread::sleep_for(kQuiet);
  m.check(eventNodesNamed(r.name).size() == 1, "no takeover while a button is down");
  r.report(0x00);
  const std::string copy = r.waitForCopy();
  if (!m.check(!copy.empty(), "virtual copy appears")) return;
  m.check(sameDevice(r.real, copy), "copy has the mouse's ids and wheel");
  m.check(waitUntil([&] { return grabbed(r.real); }, kWait), "mouse node is grabbed");
  m.check(log.count("took over " + r.real) == 1, "takeover is logged once");

  // Another session takes the seat: the mouse goes back though it stays
  // registered, and is taken over again when this session returns.
  r.takeover.setTakingOver(false);
  m.check(waitForGone(copy, kWait), "copy leaves when the session leaves the seat");
  m.check(waitUntil([&] { return !grabbed(r.real); }, kWait), "the other session has the mouse");
  r.takeover.setTakingOver(true);
  const std::string again = r.waitForCopy();
  m.check(!again.empty() && waitUntil([&] { return grabbed(r.real); }, kWait),
          "taken over again when the session returns");

  r.takeover.registeredDevicesChanged({});
  m.check(waitForGone(again, kWait), "copy leaves when the mouse is no longer registered");
  m.check(waitUntil([&] { return !grabbed(r.real); }, kWait), "the system has the mouse back");
}

void unplugWithButtonsDown(Markers& m) {
  Rig r;
  if (!r.plug(m, "velt unplugged mouse")) return;
  r.takeover.registeredDevicesChanged({kMouseId});
  const std::string copy = r.waitForCopy();
  if (!m.check(!copy.empty(), "unplug: copy appears")) return;

  EventReader reader(copy);
  r.settings.interceptMask = 0x08;
  r.report(0x01 | 0x08);
  auto pressed = reader.frame(kWait);
  m.check(contains(pressed, EV_KEY, BTN_LEFT, 1) && !contains(pressed, EV_KEY, BTN_SIDE, 1),
          "unplug: left passes, assigned side button is taken");
  m.check(waitUntil([&] { return r.buttons.last() == 0x08; }, kWait), "unplug: side button down");
  r.mouse.reset();
  m.check(waitForGone(copy, kWait), "unplug: the copy leaves with the mouse");
  m.check(waitUntil([&] { return r.buttons.last() == 0x00; }, kWait),
          "unplug: the dispatcher hears the side button go up");
}

// The takeover's second looks, counted: those waiting to run, and how many
// ran. They run only when the test moves time on.
struct CountedRetries : DelayedTasks {
  testing::FakeClock tasks;
  std::atomic<int> waiting{0}, ran{0};
  void runAfter(std::string_view label, Clock::Duration delay,
                std::function<void()> task) override {
    ++waiting;
    tasks.runAfter(label, delay, [this, task = std::move(task)] {
      --waiting;
      ++ran;
      task();
    });
  }
};

// Buttons held on two pointer nodes (two mice, a receiver with two pointer
// interfaces, a stuck switch): one second look waits at a time, however long
// they stay down (each look used to queue one per node, so they doubled at
// every look), and both are taken over once the buttons are up.
void buttonsHeldOnTwoNodes(Markers& m) {
  testing::TapsRig rig;
  CountedRetries retries;
  EvdevTakeover takeover{rig.taps, retries};
  std::string first, second;
  auto one = plugMouse(m, "velt held one", &first);
  auto two = plugMouse(m, "velt held two", &second);
  if (!one || !two || !m.check(takeover.createEventTaps(), "two held: input thread starts")) {
    return;
  }
  report(*one, 0x01);
  report(*two, 0x01);
  takeover.registeredDevicesChanged({kMouseId});
  for (int look = 0; look < 4; ++look) {
    waitUntil([&] { return retries.waiting > 0 && retries.ran == look; }, kWait);
    std::this_thread::sleep_for(kQuiet);
    m.check(retries.waiting == 1,
            "two held: one second look waits after " + std::to_string(look) + " looks",
            std::to_string(retries.waiting) + " wait");
    retries.tasks.advance(kQuiet);
  }
  report(*one, 0x00);
  report(*two, 0x00);
  retries.tasks.advance(kQuiet);
  m.check(waitUntil([&] { return grabbed(first) && grabbed(second); }, kWait),
          "two held: both are taken over once the buttons are up");
}

void heldByAnotherProgram(Markers& m, testing::CaptureLog& log) {
  Rig r;
  if (!r.plug(m, "velt held mouse")) return;
  int holder = ::open(r.real.c_str(), O_RDONLY | O_CLOEXEC);
  if (!m.check(::ioctl(holder, EVIOCGRAB, 1) == 0, "held: another program grabs it")) return;
  r.takeover.registeredDevicesChanged({kMouseId});
  r.takeover.registeredDevicesChanged({kMouseId});
  m.check(waitUntil([&] { return log.count("is held by another program") > 0; }, kWait),
          "held: the busy node is reported");
  std::this_thread::sleep_for(kQuiet);
  m.check(log.count("is held by another program") == 1, "held: reported once");
  m.check(eventNodesNamed(r.name).size() == 1, "held: no copy is made");
  ::close(holder);
}

}  // namespace
}  // namespace velt::e2e

int main() {
  if (!velt::e2e::usable("/dev/uinput") || !velt::e2e::usable("/dev/uhid")) {
    std::printf("skipped: needs /dev/uinput and /dev/uhid\n");
    return 77;
  }
  velt::testing::CaptureLog log;
  velt::e2e::Markers markers;
  velt::e2e::takeoverAndHandBack(markers, log);
  velt::e2e::unplugWithButtonsDown(markers);
  velt::e2e::heldByAnotherProgram(markers, log);
  velt::e2e::buttonsHeldOnTwoNodes(markers);
  return markers.failures() == 0 ? 0 : 1;
}
