// The takeover against the kernel: a mouse made with /dev/uhid is grabbed,
// its virtual copy appears through /dev/uinput, and events flow through the
// taps. Skipped where either device file is missing.
#include "platform/evdev_takeover.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libudev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/serial_queue.h"
#include "tests/overlay/overlay_fakes.h"
#include "tests/platform/input_events.h"
#include "tests/support/test_support.h"
#include "tools/uhid_mouse.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::Events;

constexpr UsbId kMouseId{0x0C45, 0x7E20};

bool canOpen(const char* path) {
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The event node of the input device with this name, real or virtual.
std::string findNode(const std::string& name, bool wantVirtual) {
  for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(20ms)) {
    udev* u = udev_new();
    udev_enumerate* list = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(list, "input");
    udev_enumerate_add_match_sysname(list, "event*");
    udev_enumerate_scan_devices(list);
    std::string found;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
      udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
      udev_device* input =
          d ? udev_device_get_parent_with_subsystem_devtype(d, "input", nullptr) : nullptr;
      const char* n = input ? udev_device_get_sysattr_value(input, "name") : nullptr;
      bool isVirtual =
          input &&
          std::string(udev_device_get_syspath(input)).starts_with("/sys/devices/virtual/input/");
      if (n && name == n && isVirtual == wantVirtual && udev_device_get_devnode(d)) {
        found = udev_device_get_devnode(d);
      }
      if (d) udev_device_unref(d);
    }
    udev_enumerate_unref(list);
    udev_unref(u);
    if (!found.empty()) return found;
  }
  return "";
}

// Whether the virtual device with this name has disappeared within 5 s.
bool waitUntilGone(const std::string& name) {
  for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(20ms)) {
    bool present = false;
    udev* u = udev_new();
    udev_enumerate* list = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(list, "input");
    udev_enumerate_add_match_sysattr(list, "name", name.c_str());
    udev_enumerate_scan_devices(list);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
      present |=
          std::string(udev_list_entry_get_name(entry)).starts_with("/sys/devices/virtual/input/");
    }
    udev_enumerate_unref(list);
    udev_unref(u);
    if (!present) return true;
  }
  return false;
}

// The next frame from an event node, or nothing after a second.
Events nextFrame(int fd) {
  Events frame;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) return {};
    input_event e;
    if (read(fd, &e, sizeof e) != sizeof e) return {};
    frame.push_back(e);
    if (e.type == EV_SYN && e.code == SYN_REPORT) return frame;
  }
}

struct LockedButtons : ButtonMaskSink {
  mutable std::mutex mutex;
  std::vector<uint8_t> masks;
  bool deviceActive() const override { return true; }
  void postButtonMask(uint8_t mask) override {
    std::lock_guard lock(mutex);
    masks.push_back(mask);
  }
};

struct LockedOutput : PointerOutput {
  std::mutex mutex;
  int scrolls = 0;
  void postScrollEvent(double, double) override {
    std::lock_guard lock(mutex);
    ++scrolls;
  }
  void volumeStep(bool) override {}
};

class EvdevTakeoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canOpen("/dev/uinput") || !canOpen("/dev/uhid")) {
      GTEST_SKIP() << "needs /dev/uinput and /dev/uhid";
    }
  }

  PointerModeState modes;
  Settings settings;
  LockedButtons buttons;
  LockedOutput output;
  testing::FakeOverlayTarget overlay;
  TimerThread timers;
  PointerTaps taps{modes, settings, buttons, output, overlay, timers};
  testing::CaptureLog log;
};

TEST_F(EvdevTakeoverTest, GrabsTheMouseAndPassesItsInputThroughACopy) {
  UhidMouse mouse("velt test mouse", kMouseId.vendorId, kMouseId.productId);
  std::string real = findNode("velt test mouse", false);
  ASSERT_FALSE(real.empty());

  EvdevTakeover takeover(taps);
  ASSERT_TRUE(takeover.createEventTaps());
  takeover.registeredDevicesChanged({kMouseId});
  std::string copy = findNode("velt test mouse", true);
  ASSERT_FALSE(copy.empty()) << "no virtual copy appeared";
  int copyFd = open(copy.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(copyFd, 0);

  // Taken: another grab fails.
  int realFd = open(real.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(ioctl(realFd, EVIOCGRAB, 1), 0);
  EXPECT_EQ(errno, EBUSY);
  close(realFd);

  mouse.report(0, 5, -3, 0);
  Events moved = nextFrame(copyFd);
  EXPECT_EQ(moved, testing::frame({testing::rel(REL_X, 5), testing::rel(REL_Y, -3)}));

  // An assigned middle button goes to the dispatcher only.
  settings.interceptMask = 0x04;
  mouse.report(0x04, 0, 0, 0);
  mouse.report(0x00, 0, 0, 0);
  mouse.report(0x00, 1, 0, 0);
  EXPECT_EQ(nextFrame(copyFd), testing::frame({testing::rel(REL_X, 1)}));
  {
    std::lock_guard lock(buttons.mutex);
    EXPECT_EQ(buttons.masks, (std::vector<uint8_t>{0x04, 0x00}));
  }

  // No longer registered: the copy goes, and the system has the mouse back.
  takeover.registeredDevicesChanged({});
  close(copyFd);
  EXPECT_TRUE(waitUntilGone("velt test mouse")) << "the copy stayed";
  realFd = open(real.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(ioctl(realFd, EVIOCGRAB, 1), 0);
  close(realFd);
}

TEST_F(EvdevTakeoverTest, AMouseHeldByAnotherProgramIsLeftAlone) {
  UhidMouse mouse("velt held mouse", kMouseId.vendorId, kMouseId.productId);
  std::string real = findNode("velt held mouse", false);
  ASSERT_FALSE(real.empty());
  int holder = open(real.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(ioctl(holder, EVIOCGRAB, 1), 0);

  EvdevTakeover takeover(taps);
  ASSERT_TRUE(takeover.createEventTaps());
  takeover.registeredDevicesChanged({kMouseId});
  takeover.registeredDevicesChanged({kMouseId});
  for (int i = 0; i < 250 && log.count("is held by another program") == 0; ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(log.count("is held by another program"), 1u);
  close(holder);
}

}  // namespace
}  // namespace velt
