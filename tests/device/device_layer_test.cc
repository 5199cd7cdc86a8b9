// The device layer on its real threads, for what only threads can show: a
// mouse that keeps a request waiting holds up nobody, and ThreadSanitizer
// finds nothing when everything happens at once. Its logic is traced, one
// step at a time, in device_layer_trace_test.cc.
#include "device/device_layer.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "testing/fake_hid_transport.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::waitUntil;
using DeviceId = FakeHidTransport::DeviceId;

struct StubTaps : EventTaps {
  bool createEventTaps() override { return true; }
  void setTakingOver(bool) override {}
};

class DeviceLayerTest : public ::testing::Test {
 protected:
  DeviceLayerTest() { settings.StandardButtonAssignments[3].store({13, 0, 0}); }
  ~DeviceLayerTest() override {
    transport.releaseRequests();
    layer.stop();
  }
  // Plugs every interface of each model and waits until they are configured.
  std::vector<std::vector<DeviceId>> startWithMice(const std::vector<std::string>& models) {
    settings.interceptMask = 0x08;
    EXPECT_TRUE(layer.initDeviceLayer());
    std::vector<std::vector<DeviceId>> mice;
    for (const auto& model : models) mice.push_back(transport.plugAll(virtualMouse(model)));
    settle();
    EXPECT_TRUE(waitUntil([&] { return layer.settled(); }));
    return mice;
  }
  void settle() {
    transport.sync();
    layer.waitForIdentification();
  }
  // Whether call returns while a device keeps a request waiting, the layer's
  // clock moving on meanwhile.
  template <typename F>
  bool returnsMeanwhile(F call) {
    auto done = std::async(std::launch::async, call);
    for (int step = 0; step < 1000; ++step) {
      if (done.wait_for(10ms) == std::future_status::ready) return true;
      clock.advance(50ms);
    }
    return false;
  }

  testing::CaptureLog log;
  Settings settings;
  ModelCatalogue catalogue = loadModelCatalogue(testing::sourceResources() / "model");
  FakeHidTransport transport;
  testing::RecordingButtonRunner runner;
  StubTaps taps;
  testing::ManualMainThread mainThread;
  FakeClock clock;
  // The countdowns' ticks, which the listener's loop on a fake clock runs at
  // once, keep a time line of their own: they must not use up the patience
  // that quitting measures on the layer's clock.
  FakeClock tickClock;
  DeviceLayer layer{{settings, catalogue, transport, runner, taps, mainThread, clock, tickClock}};
};

TEST_F(DeviceLayerTest, SilentMiceHoldUpNeitherTheWindowNorQuittingNorStopping) {
  const auto mice = startWithMice({"QR-350", "QR-550"});
  const auto &slow = mice[0], &other = mice[1];
  // A type-1 mouse that never answers its handshake, and one that stops
  // answering while a pass writes to it.
  const DeviceId silent = transport.plugSilent(virtualMouse("QR-360"), 0);
  ASSERT_TRUE(waitUntil([&] { return transport.heldRequests(silent) == 1; }));
  transport.holdRequests(slow[0]);
  layer.armConfigCountdown(1);
  ASSERT_TRUE(waitUntil([&] { return transport.heldRequests(slow[0]) == 1; }));
  transport.clearSentReports(slow[0]);

  // What the window asks of the registry does not wait for the devices.
  EXPECT_TRUE(returnsMeanwhile([&] {
    layer.countSelectableDevices();
    layer.describeDevice(0);
    layer.selectDevice(1);
  }));
  // Nor does quitting; the other mouse still gets its buttons back.
  transport.clearSentReports(other[0]);
  EXPECT_TRUE(returnsMeanwhile([&] { layer.restoreDevicesOnQuit(); }));
  ASSERT_FALSE(transport.sentReports(other[0]).empty());
  EXPECT_EQ(transport.sentReports(other[0])[0].bytes[5], 0x00);
  EXPECT_EQ(log.count("does not answer; left as it is"), 1u);
  // Nor does stopping: the threads are left to the requests' time-outs.
  EXPECT_TRUE(returnsMeanwhile([&] { layer.stop(); }));
  EXPECT_TRUE(layer.waitingOnDevice());

  transport.releaseRequests();
  ASSERT_TRUE(waitUntil([&] { return !layer.waitingOnDevice(); }));
  // The pass under way sent the slow mouse nothing more, the silent one was
  // asked once.
  EXPECT_TRUE(transport.sentReports(slow[0]).empty());
  EXPECT_EQ(transport.transfers(silent), 1);
}

// Everything at once, for ThreadSanitizer above all: mice come, press and
// go while the "window" commits and moves the selection; the quit comes in
// the middle of it, and its reports stay the last each mouse receives.
TEST_F(DeviceLayerTest, StressHotPlugPressesCommitsSelectionAndAQuit) {
  std::atomic<int> notices{0};
  layer.onDeviceChange([&](const DeviceRecord& record) { notices += !record.name.empty(); });
  ASSERT_TRUE(layer.initDeviceLayer());
  std::atomic<bool> done{false};
  std::atomic<int> commits{0};
  std::thread window([&] {
    for (int i = 0; !done; ++i) {
      settings.interceptMask = i % 2 ? 0x08 : 0x10;
      layer.armConfigCountdown(1);
      layer.selectDevice(i % 5);
      layer.describeDevice(layer.selectedDeviceIndex());
      ++commits;
      std::this_thread::yield();
    }
  });
  auto pressOn = [&](const std::vector<DeviceId>& ids, const std::string& model) {
    const VirtualMouse& m = virtualMouse(model);
    transport.sendInput(ids[m.buttonInterface()], m.buttonReport(0x08));
    transport.sendInput(ids[m.buttonInterface()], m.buttonReport(0x00));
  };
  std::vector<std::pair<std::vector<DeviceId>, std::string>> kept;
  std::thread mice([&] {
    for (int round = 0; round < 6; ++round) {
      for (const std::string model : {"QR-350", "QR-450", "QR-360", "QR-250"}) {
        auto ids = transport.plugAll(virtualMouse(model));
        pressOn(ids, model);
        if (round % 2) {
          kept.emplace_back(ids, model);
        } else {
          for (auto id : ids) transport.unplug(id);
        }
      }
    }
  });
  mice.join();
  settle();
  std::thread presses([&] {
    while (!done) {
      for (const auto& [ids, model] : kept) pressOn(ids, model);
    }
  });

  std::vector<size_t> before;
  for (const auto& mouse : kept) before.push_back(transport.sentReports(mouse.first[0]).size());
  layer.restoreDevicesOnQuit();
  std::vector<size_t> after;
  for (const auto& mouse : kept) after.push_back(transport.sentReports(mouse.first[0]).size());
  // Commits and presses go on a while after the quit.
  const int commitsAtQuit = commits;
  ASSERT_TRUE(waitUntil([&] { return commits > commitsAtQuit + 200; }));
  done = true;
  window.join();
  presses.join();
  settle();
  // The countdowns' time moves while the loop waits, which the presses kept
  // it from doing: the last notice goes out now.
  EXPECT_TRUE(waitUntil([&] { return layer.settled(); }));
  layer.stop();
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_GT(after[i], before[i]) << kept[i].second;
    EXPECT_EQ(transport.sentReports(kept[i].first[0]).size(), after[i]) << kept[i].second;
  }
  // Masks, extra codes and releases alike are dispatched from one thread.
  EXPECT_EQ(runner.threads(), 1u);
  EXPECT_GT(notices.load(), 0);
}

TEST(DeviceRegistryTest, KeysSelectionAndLateRegistrations) {
  DeviceRegistry registry;
  ModelDefinition model;
  model.name = "M";
  model.usbVid = 1;
  model.usbPid = 2;
  model.buttonPos.resize(5);
  const DeviceHandle a = registry.newHandle();
  const DeviceHandle b = registry.newHandle();
  const DeviceHandle c = registry.newHandle();
  EXPECT_LT(a, b);
  EXPECT_EQ(DeviceRegistry::deviceKey(b), std::to_string(b));
  ASSERT_TRUE(registry.registerDevice({a, 1, kAnyModel, 1, 2, false}, model));
  ASSERT_TRUE(registry.registerDevice({b, 1, 5, 1, 2, true}, model));
  ASSERT_TRUE(registry.registerDevice({c, 1, 5, 1, 2, true}, model));
  EXPECT_EQ(registry.countSelectable(), 2);
  DeviceRecord record = registry.describe(0).value();
  EXPECT_EQ(record.key, DeviceRegistry::deviceKey(b));
  // Identical devices: the first one in order.
  record.key = "other";
  EXPECT_EQ(registry.indexOf(record), 0);
  record.modelId = 6;
  EXPECT_EQ(registry.indexOf(record), 2);
  EXPECT_FALSE(registry.describe(2).has_value());
  EXPECT_FALSE(registry.describe(-1).has_value());

  // A device whose identification finishes after it has gone stays gone.
  EXPECT_TRUE(registry.markRemoved(b));
  EXPECT_FALSE(registry.markRemoved(b));
  EXPECT_FALSE(registry.registerDevice({b, 1, 5, 1, 2, true}, model));
  const DeviceHandle d = registry.newHandle();
  EXPECT_FALSE(registry.markRemoved(d));
  EXPECT_FALSE(registry.registerDevice({d, 1, 5, 1, 2, true}, model));
  EXPECT_EQ(registry.countSelectable(), 1);
  EXPECT_EQ(registry.registeredUsbIds().size(), 2u);
  // Nothing stays of the devices that went, nor of one never attached.
  EXPECT_EQ(registry.devices().size(), 2u);
  EXPECT_FALSE(registry.registerDevice({d + 1, 1, 5, 1, 2, true}, model));
}

TEST(CountdownTest, ABurstOfEventsGivesOneNoticeAndAnArmMeanwhileStands) {
  testing::FakeClock timers;
  int notices = 0;
  Countdown* self = nullptr;
  Countdown countdown(timers, "test", [&] {
    if (++notices == 2) self->arm(1);
  });
  self = &countdown;
  countdown.arm(3);
  timers.advance(200ms);
  countdown.arm(3);  // a second event restarts the wait
  timers.advance(400ms);
  EXPECT_EQ(notices, 0);
  timers.advance(200ms);
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(countdown.remaining(), 0);

  // Armed again while its notice goes out: that arm stands.
  countdown.arm(1);
  timers.advance(200ms);
  EXPECT_EQ(notices, 2);
  EXPECT_EQ(countdown.remaining(), 1);
  timers.advance(200ms);
  EXPECT_EQ(notices, 3);
  EXPECT_EQ(countdown.remaining(), 0);

  // Stopped: nothing goes out any more.
  countdown.arm(1);
  countdown.stop();
  timers.advance(1s);
  EXPECT_EQ(notices, 3);
}

}  // namespace
}  // namespace velt
