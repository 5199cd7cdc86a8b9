#include "platform/hid/hidraw_transport.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <map>
#include <mutex>
#include <set>

#include "device/vendor_protocol.h"
#include "tests/support/test_support.h"
#include "tools/mouse_sim/uhid_mouse.h"
#include "tools/uhid/uhid_device.h"
#include "tools/uhid/uhid_nodes.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

// The nodes the transport reports present, by handle, and those it removed.
struct NodeList : HidListener {
  const DeviceClasses classes = loadModelCatalogue(testing::sourceResources() / "model").classes;
  std::mutex mutex;
  DeviceHandle next = 1;
  std::map<DeviceHandle, std::string> present;
  std::set<DeviceHandle> removed;
  DeviceHandle newDeviceHandle() override {
    std::lock_guard lock(mutex);
    return next++;
  }
  void onDeviceMatched(DeviceHandle device, const HidDeviceInfo& info) override {
    std::lock_guard lock(mutex);
    present[device] = info.name;
  }
  void onDeviceRemoved(DeviceHandle device) override {
    std::lock_guard lock(mutex);
    present.erase(device);
    removed.insert(device);
  }
  void onInputReport(DeviceHandle, uint8_t, const uint8_t*, size_t) override {}
  // As the device layer decides.
  bool wantsReports(const HidDeviceInfo& info) override {
    const DeviceKind kind = classifyDevice(classes, info.properties);
    return kind != DeviceKind::Ignored && kind != DeviceKind::OtherMouse;
  }
  std::map<DeviceHandle, std::string> nodes() {
    std::lock_guard lock(mutex);
    return present;
  }
  // The handle node is present under, 0 when it is not.
  DeviceHandle handleOf(const std::string& node) {
    std::lock_guard lock(mutex);
    for (const auto& [handle, name] : present) {
      if (name == node) return handle;
    }
    return 0;
  }
  bool wasRemoved(DeviceHandle device) {
    std::lock_guard lock(mutex);
    return removed.count(device) != 0;
  }
};

TEST(HidrawTransportTest, UnknownDevicesAndStopping) {
  HidrawTransport transport;
  uint8_t buffer[8] = {};
  EXPECT_EQ(transport.getFeatureReport(42, 0, buffer).error, ENODEV);
  EXPECT_EQ(transport.setFeatureReport(42, 5, buffer).error, ENODEV);
  EXPECT_EQ(transport.writeOutputReport(42, 0, buffer).error, ENODEV);
  transport.subscribeInput(42);

  // This machine may have no hidraw devices at all; what can be checked here
  // is that the listener starts and stops on request, even before it runs.
  std::string reason;
  if (!transport.open(reason)) GTEST_SKIP() << "no device events here: " << reason;
  NodeList listener;
  auto running = std::async(std::launch::async, [&] { transport.run(listener); });
  transport.stop();
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
}

// Reopening against the kernel: the nodes of a mouse plugged through
// /dev/uhid are closed, reported gone, and found again under new handles
// that carry reports. The guest runs this (e2e_uinput_backend); elsewhere it
// is skipped without /dev/uhid.
TEST(HidrawTransportTest, ReopenedNodesComeBackUnderNewHandles) {
  std::string error;
  auto mouse = UhidMouse::plug(virtualMouse("QR-350"), "reopen", nullptr, &error);
  if (!mouse) GTEST_SKIP() << "no uhid mouse here: " << error;
  HidrawTransport transport;
  ASSERT_TRUE(transport.open(error)) << error;
  NodeList listener;
  auto running = std::async(std::launch::async, [&] { transport.run(listener); });
  const std::string node = mouse->nodes(0, 0, 10s).value().hidraw;
  ASSERT_TRUE(waitUntil([&] { return listener.handleOf(node) != 0; }));
  // Reports go out on a node once the handle is in use.
  auto sendsReports = [&](DeviceHandle handle) {
    mouse->clearReceived();
    const uint8_t report[] = {0x02, 0x08, 0, 0, 0, 0, 0, 0x0A};
    return transport.setFeatureReport(handle, 0, report).ok() && mouse->received(0).size() == 1;
  };
  const DeviceHandle first = listener.handleOf(node);
  EXPECT_TRUE(sendsReports(first));
  // A report longer than any the kernel passes is refused before it goes out.
  mouse->clearReceived();
  EXPECT_EQ(transport.setFeatureReport(first, 0, std::vector<uint8_t>(5000)).error, EMSGSIZE);
  EXPECT_TRUE(mouse->received(0).empty());

  transport.reopenDevice(first);
  ASSERT_TRUE(waitUntil([&] { return listener.handleOf(node) > first; }));
  EXPECT_TRUE(listener.wasRemoved(first));
  EXPECT_EQ(transport.setFeatureReport(first, 0, std::vector<uint8_t>(8)).error, ENODEV);
  const DeviceHandle second = listener.handleOf(node);
  EXPECT_TRUE(sendsReports(second));

  // All of them, as on coming back to the seat.
  const auto before = listener.nodes();
  transport.reopenAll();
  ASSERT_TRUE(waitUntil([&] {
    auto now = listener.nodes();
    return now.size() == before.size() && now.begin()->first > before.rbegin()->first;
  }));
  for (const auto& [handle, name] : before) EXPECT_TRUE(listener.wasRemoved(handle)) << name;
  EXPECT_TRUE(sendsReports(listener.handleOf(node)));
  transport.stop();
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
}

// Only the nodes of supported mice are opened, against the kernel: inotify
// sees every open of a keyboard's node and of a mouse's. The guest runs
// this (e2e_uinput_backend); elsewhere it is skipped without /dev/uhid.
TEST(HidrawTransportTest, OpensTheNodesOfSupportedMiceOnly) {
  std::string error;
  auto mouse = UhidMouse::plug(virtualMouse("QR-350"), "opened", nullptr, &error);
  if (!mouse) GTEST_SKIP() << "no uhid mouse here: " << error;
  UhidDeviceSetup setup;
  setup.name = setup.uniq = "velt keyboard";
  setup.descriptor = kPlainKeyboardDescriptor;
  auto keyboard = UhidDevice::create(setup, {}, &error);
  const auto keys = waitForHidNodes("HID_UNIQ", setup.uniq, 1, 10s);
  ASSERT_TRUE(keyboard && keys) << error;
  const std::string mouseNode = mouse->nodes(0, 0, 10s).value().hidraw;
  // Each open of a node is one event on its watch.
  auto watch = [](const std::string& node) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(fd, node.c_str(), IN_OPEN);
    return fd;
  };
  auto opens = [](int fd) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    return n > 0 ? n / static_cast<ssize_t>(sizeof(inotify_event)) : 0;
  };
  const int keyboardWatch = watch(keys->hidraw), mouseWatch = watch(mouseNode);

  HidrawTransport transport;
  ASSERT_TRUE(transport.open(error)) << error;
  NodeList listener;
  auto running = std::async(std::launch::async, [&] { transport.run(listener); });
  EXPECT_TRUE(
      waitUntil([&] { return listener.handleOf(keys->hidraw) && listener.handleOf(mouseNode); }));
  transport.stop();
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(opens(keyboardWatch), 0);
  EXPECT_GE(opens(mouseWatch), 1);
}

}  // namespace
}  // namespace velt
