#include "device/device_layer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <set>
#include <thread>

#include "device/vendor_protocol.h"
#include "testing/fake_hid_transport.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::ButtonCall;
using testing::CaptureLog;
using testing::FakeClock;
using testing::ManualMainThread;
using testing::RecordingButtonRunner;
using testing::waitUntil;
using Bytes = std::vector<uint8_t>;
using DeviceId = FakeHidTransport::DeviceId;

struct StubTaps : EventTaps {
  bool succeed = true;
  std::atomic<bool> takingOver{true};
  std::function<void(bool)> onTakingOver;
  bool createEventTaps() override { return succeed; }
  void setTakingOver(bool takeOver) override {
    if (onTakingOver) onTakingOver(takeOver);
    takingOver = takeOver;
  }
};

struct StubOverlay : OverlayControl {
  std::atomic<int> hides{0};
  void toggleOverlay(int32_t) override {}
  void spotlightPressed() override {}
  void setOverlayShown(bool, int32_t) override {}
  void hideOverlayIfVisible() override { ++hides; }
  bool spotlightHeld() const override { return false; }
};

struct RecordingObserver : RegistryObserver {
  std::mutex mutex;
  std::vector<std::vector<UsbId>> notices;
  void registeredDevicesChanged(const std::vector<UsbId>& devices) override {
    std::lock_guard lock(mutex);
    notices.push_back(devices);
  }
  std::vector<UsbId> last() {
    std::lock_guard lock(mutex);
    return notices.empty() ? std::vector<UsbId>{} : notices.back();
  }
};

// The real device layer, its threads and countdowns, over virtual mice. The
// fake clock makes every countdown and handshake pause instant.
class DeviceLayerTest : public ::testing::Test {
 protected:
  DeviceLayerTest() {
    // Button 3 (mask 0x08) copies unless a test assigns it otherwise.
    settings.StandardButtonAssignments[3].store({13, 0, 0});
    layer.setRegistryObserver(&observer);
    layer.setFatalErrorHandler([this] { ++fatalErrors; });
  }
  ~DeviceLayerTest() override {
    transport.releaseRequests();
    layer.stop();
  }

  void start() { ASSERT_TRUE(layer.initDeviceLayer()); }

  // Starts with intercept as the masks and a mouse of each model plugged,
  // configured and selected; what the mice were sent so far is cleared.
  std::vector<std::vector<DeviceId>> startWithMice(uint8_t intercept,
                                                   const std::vector<std::string>& models) {
    settings.interceptMask = intercept;
    start();
    std::vector<std::vector<DeviceId>> mice;
    for (const auto& model : models) mice.push_back(plug(model));
    nextDeviceChange();
    quiesce();
    for (const auto& ids : mice) transport.clearSentReports(ids[0]);
    return mice;
  }
  // Plugs a mouse and waits until its registration has been handled.
  std::vector<DeviceId> plug(const std::string& model) {
    auto ids = transport.plugAll(virtualMouse(model));
    settle();
    return ids;
  }
  void unplug(DeviceId id) {
    transport.unplug(id);
    settle();
  }
  void settle() {
    transport.sync();
    layer.waitForIdentification();
  }
  // Also waits for the countdowns and configuration passes that follow.
  void quiesce() {
    settle();
    ASSERT_TRUE(waitUntil([&] { return layer.settled(); }));
  }
  // The first report the agent sent the device that starts with byte0, or
  // the very first one.
  Bytes firstReport(DeviceId id, std::optional<uint8_t> byte0 = std::nullopt) {
    for (const auto& r : transport.sentReports(id)) {
      if (!byte0 || (!r.bytes.empty() && r.bytes[0] == *byte0)) return r.bytes;
    }
    return {};
  }
  // Waits for the configuration pass that the last change armed.
  void awaitConfiguration(uint64_t passesBefore) {
    ASSERT_TRUE(waitUntil([&] { return layer.configurationPasses() > passesBefore; }));
  }
  // The next device-change notice, as the window's refresh loop sees it.
  DeviceRecord nextDeviceChange() {
    auto next = std::async(std::launch::async, [this] { return layer.awaitDeviceChange(); });
    if (next.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "no device-change notice";
      layer.stop();
    }
    return next.get().value_or(DeviceRecord{});
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
  // Sends a button report from the mouse's button interface and waits until
  // the dispatcher has handled it.
  void press(const std::vector<DeviceId>& ids, const std::string& model, uint8_t mask,
             uint8_t extra = 0) {
    const VirtualMouse& m = virtualMouse(model);
    transport.sendInput(ids[m.buttonInterface()], m.buttonReport(mask, extra));
    settle();
  }

  CaptureLog log;
  Settings settings;
  ModelCatalogue catalogue = loadModelCatalogue(testing::sourceResources() / "model");
  FakeHidTransport transport;
  RecordingButtonRunner runner;
  StubTaps taps;
  ManualMainThread mainThread;
  FakeClock clock;
  // The countdowns' ticks, which a TimerThread on a fake clock runs at once,
  // keep a time line of their own: they must not use up the patience that
  // quitting measures on the layer's clock.
  FakeClock tickClock;
  TimerThread timers{tickClock};
  StubOverlay overlay;
  RecordingObserver observer;
  std::atomic<int> fatalErrors{0};
  DeviceLayer layer{
      {settings, catalogue, transport, runner, taps, mainThread, clock, timers, &overlay}};
};

TEST_F(DeviceLayerTest, StartsOnceAndOnlyWithEventTaps) {
  taps.succeed = false;
  EXPECT_FALSE(layer.initDeviceLayer());
  EXPECT_FALSE(layer.initDeviceLayer());
  EXPECT_EQ(log.count("skip initial lib..."), 1u);
  EXPECT_EQ(log.count("initial lib..."), 1u);  // the skip line only
  // Nothing runs, so quitting sends nothing and does not pause.
  layer.restoreDevicesOnQuit();
  EXPECT_EQ(clock.now(), Clock::TimePoint{});
}

TEST_F(DeviceLayerTest, ListenerThatCannotStartIsFatal) {
  transport.failOpen("no netlink socket");
  start();
  ASSERT_TRUE(waitUntil([&] { return fatalErrors.load() == 1; }));
  EXPECT_EQ(log.count("register usb error"), 1u);
  EXPECT_EQ(log.count("no netlink socket"), 1u);
}

TEST_F(DeviceLayerTest, IdleLayerDoesNotTick) {
  start();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(tickClock.now(), Clock::TimePoint{});
  // A notice in 600 ms takes four ticks, then the tickers sleep again.
  layer.scheduleDeviceChangeNotice(600);
  EXPECT_EQ(nextDeviceChange().type, 0);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(tickClock.now() - Clock::TimePoint{}, 800ms);
}

TEST_F(DeviceLayerTest, Type1MouseIsRegisteredConfiguredAndListed) {
  start();
  auto ids = plug("QR-350");
  quiesce();

  // What each interface is sent is checked byte for byte in the guest; the
  // vendor interface is the one read.
  EXPECT_FALSE(transport.subscribed(ids[0]));
  EXPECT_TRUE(transport.subscribed(ids[1]));

  // Only the mouse interface is listed.
  DeviceRecord record = nextDeviceChange();
  EXPECT_EQ(layer.countSelectableDevices(), 1);
  EXPECT_EQ(record.name, "QR-350");
  EXPECT_EQ(record.modelId, 0x35);
  EXPECT_EQ(record.key, std::to_string(transport.handleOf(ids[0]).value()));
  EXPECT_EQ(record.extraCount, 3);
  EXPECT_TRUE(record.imagePath.ends_with("qr350/qr350.png"));
  EXPECT_TRUE(layer.deviceActive());
  EXPECT_EQ(layer.selectedDeviceIndex(), 0);
  // Asking for a device that is not there is a read: the mouse stays active.
  EXPECT_EQ(layer.describeDevice(1).type, 0);
  EXPECT_TRUE(layer.deviceActive());

  // Both interfaces are known to the event taps.
  EXPECT_EQ(observer.last(), (std::vector<UsbId>{{0x0C45, 0x7E20}, {0x0C45, 0x7E20}}));
}

TEST_F(DeviceLayerTest, EveryShippedModelHasAVirtualMouseRecognisedAsIt) {
  start();
  for (const VirtualMouse& m : virtualMice()) {
    if (m.type != kDeviceOtherMouse) transport.plugAll(m);
  }
  quiesce();
  // So the tests and the simulator cover every model the agent supports.
  std::set<std::string> listed;
  for (int32_t i = 0; i < layer.countSelectableDevices(); ++i) {
    DeviceRecord record = layer.describeDevice(i);
    const ModelDefinition& model = catalogue.at(record.name);
    EXPECT_EQ(record.modelId, virtualMouse(record.name).modelNumber) << record.name;
    EXPECT_EQ(record.type, model.type) << record.name;
    EXPECT_TRUE(listed.insert(record.name).second) << record.name << " listed twice";
  }
  std::set<std::string> shipped;
  for (const auto& [name, model] : catalogue) shipped.insert(name);
  EXPECT_EQ(listed, shipped);
}

TEST_F(DeviceLayerTest, ButtonReportsWaitForTheFirstDeviceNotice) {
  // What each type's buttons and extra buttons do is checked in the guest;
  // here, that nothing is forwarded before a mouse is selected.
  start();
  auto ids = plug("QR-350");
  press(ids, "QR-350", 0x08);
  EXPECT_EQ(runner.count(), 0u);
  press(ids, "QR-350", 0x00);

  nextDeviceChange();
  press(ids, "QR-350", 0x08);
  press(ids, "QR-350", 0x08);  // unchanged
  press(ids, "QR-350", 0x00);
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{13, 1, 0, 0}, {13, 0, 0, 0}}));
}

TEST_F(DeviceLayerTest, PassesFollowTheModelAndLeaveType7Alone) {
  // Every type's reports are checked byte for byte in the protocol tests and
  // in the guest; the guest's masks look the same with the side buttons
  // exchanged, so the exchange a type-2 model asks for is checked here.
  settings.interceptMask = 0x08;
  start();
  auto t2 = plug("QR-450");
  auto t7 = plug("QR-150");
  quiesce();
  EXPECT_EQ(firstReport(t2[0])[5], 0x10);
  // Type 7 is listed and subscribed, never configured; its mouse interface
  // is not registered at all.
  EXPECT_TRUE(transport.sentReports(t7[1]).empty());
  EXPECT_TRUE(transport.subscribed(t7[1]));
  EXPECT_FALSE(transport.subscribed(t7[0]));
  EXPECT_EQ(layer.countSelectableDevices(), 2);
}

TEST_F(DeviceLayerTest, OtherMiceNeedAModelOfTheirOwn) {
  const VirtualMouse& other = virtualMouse("Other mouse");
  start();
  plug("Other mouse");
  EXPECT_EQ(layer.countSelectableDevices(), 0);
  layer.stop();

  ModelDefinition generic;
  generic.name = "Any mouse";
  generic.type = kDeviceOtherMouse;
  generic.modelId = 99;
  generic.usbVid = other.vendorId;
  generic.usbPid = other.productId;
  generic.buttonMask = 0x1E;
  generic.buttonPos.resize(5);
  catalogue[generic.name] = generic;
  FakeHidTransport otherTransport;
  DeviceLayer third{
      {settings, catalogue, otherTransport, runner, taps, mainThread, clock, timers, nullptr}};
  ASSERT_TRUE(third.initDeviceLayer());
  auto id = otherTransport.plug(other, 0);
  otherTransport.sync();
  third.waitForIdentification();
  third.waitForIdentification();  // its registration is queued from a task
  EXPECT_EQ(third.countSelectableDevices(), 1);
  EXPECT_EQ(third.describeDevice(0).name, "Any mouse");
  EXPECT_FALSE(otherTransport.subscribed(id));
  third.sendConfiguration();
  EXPECT_EQ(otherTransport.transfers(id), 0);
}

TEST_F(DeviceLayerTest, TwoIdenticalMiceAndTheSelection) {
  start();
  auto first = plug("QR-450");
  auto second = plug("QR-450");
  auto other = plug("QR-350");
  ASSERT_EQ(layer.countSelectableDevices(), 3);
  EXPECT_NE(layer.describeDevice(0).key, layer.describeDevice(1).key);

  // The picker chooses the third device; the selection stays with it.
  layer.selectDevice(2);
  EXPECT_EQ(nextDeviceChange().name, "QR-350");
  EXPECT_EQ(layer.selectedDeviceIndex(), 2);
  // Index beyond the list: the first device.
  layer.selectDevice(7);
  EXPECT_EQ(layer.selectedDeviceIndex(), 0);
  layer.selectDevice(2);
  nextDeviceChange();

  // The first mouse leaves: the selection follows the QR-350 to index 1.
  unplug(first[0]);
  DeviceRecord record = nextDeviceChange();
  EXPECT_EQ(record.name, "QR-350");
  EXPECT_EQ(layer.selectedDeviceIndex(), 1);
  EXPECT_EQ(layer.indexOfSelectedDevice(), 1);

  // The selected mouse leaves: the first of the rest is selected.
  unplug(other[0]);
  unplug(other[1]);
  record = nextDeviceChange();
  EXPECT_EQ(record.name, "QR-450");
  EXPECT_EQ(record.key, std::to_string(transport.handleOf(second[0]).value()));
  EXPECT_EQ(layer.selectedDeviceIndex(), 0);
}

TEST_F(DeviceLayerTest, LastMouseLeavingReleasesHeldButtonsOnce) {
  settings.StandardButtonAssignments[3].store({25, 0, 0});
  const auto ids = startWithMice(0, {"QR-350"})[0];
  press(ids, "QR-350", 0x08);
  ASSERT_EQ(runner.calls(), (std::vector<ButtonCall>{{25, 1, 0, 0}}));

  unplug(ids[0]);
  unplug(ids[1]);
  EXPECT_EQ(nextDeviceChange().type, 0);
  layer.waitForIdentification();
  EXPECT_FALSE(layer.deviceActive());
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{25, 1, 0, 0}, {25, 0, 0, 0}}));
  // The window asks again: no second release.
  layer.describeDevice(0);
  layer.waitForIdentification();
  EXPECT_EQ(runner.count(), 2u);
  EXPECT_EQ(mainThread.runPending(), 1u);
  EXPECT_EQ(overlay.hides.load(), 1);
  EXPECT_TRUE(observer.last().empty());
}

TEST_F(DeviceLayerTest, MouseLeavingWithButtonsDownReleasesThemWhileAnotherStays) {
  settings.StandardButtonAssignments[3].store({kFunctionShortcut, 40, kModShift});
  settings.ExtraButtonAssignments[0].store({23, 0, 0});
  const auto leaving = startWithMice(0, {"QR-550", "QR-460"})[1];
  ASSERT_TRUE(layer.deviceActive());
  press(leaving, "QR-460", 0x08);
  press(leaving, "QR-460", 0x08, 0xFE);
  ASSERT_EQ(runner.calls(),
            (std::vector<ButtonCall>{{kFunctionShortcut, 1, 40, kModShift}, {23, 1, 0, 0}}));

  runner.clear();
  unplug(leaving[0]);
  layer.waitForIdentification();
  EXPECT_THAT(runner.calls(),
              ::testing::UnorderedElementsAre(ButtonCall{kFunctionShortcut, 0, 40, kModShift},
                                              ButtonCall{23, 0, 0, 0}));
  // A mouse that goes with nothing held, or released before, changes nothing.
  auto third = plug("QR-460");
  press(third, "QR-460", 0, 0xFE);
  press(third, "QR-460", 0, 0xFD);
  unplug(third[0]);
  layer.waitForIdentification();
  EXPECT_EQ(runner.count(), 4u);
  EXPECT_TRUE(layer.deviceActive());
  // Masks, extra codes and releases alike are dispatched from one thread.
  EXPECT_EQ(runner.threads(), 1u);
}

TEST_F(DeviceLayerTest, CommitsAndQuitSendTheMasks) {
  const auto mice = startWithMice(0x10, {"QR-350", "QR-360"});
  const auto &a = mice[0], &b = mice[1];

  // A commit: one pass, at the next tick, with the new masks. Each type-1
  // mouse gets the next report sequence number. Quitting hands every button
  // back, and nothing follows, not even a commit's late pass.
  settings.interceptMask = 0x08;
  const uint64_t passes = layer.configurationPasses();
  layer.armConfigCountdown(1);
  awaitConfiguration(passes);
  auto sentA = transport.sentReports(a[0]);
  auto sentB = transport.sentReports(b[0]);
  ASSERT_EQ(sentA.size(), 3u);
  ASSERT_EQ(sentB.size(), 3u);
  EXPECT_EQ(sentA[0].bytes, (Bytes{0x02, 0x08, 0, 0, 0, 0, 0, 0x0A}));
  EXPECT_EQ((sentB[2].bytes[1] - sentA[2].bytes[1]) & 0x0F, 1);

  transport.clearSentReports(a[0]);
  layer.restoreDevicesOnQuit();
  // (Its reports are checked byte for byte in the guest.)
  EXPECT_EQ(transport.sentReports(a[0]).size(), 3u);
  EXPECT_EQ(settings.interceptMask.load(), 0);
  settings.interceptMask = 0x08;
  layer.armConfigCountdown(1);
  layer.sendConfiguration();
  settle();
  EXPECT_EQ(transport.sentReports(a[0]).size(), 3u);
}

TEST_F(DeviceLayerTest, LeavingTheSeatGivesTheButtonsBackClosesAndStaysQuietUntilComingBack) {
  std::atomic<size_t> callsAtHandBack{99};
  taps.onTakingOver = [&](bool takeOver) {
    if (!takeOver) callsAtHandBack = runner.count();
  };
  const auto a = startWithMice(0x08, {"QR-350"})[0];
  // Configured: a crash would give the button back.
  EXPECT_EQ(transport.keptRestoreReports(a[0]).size(), 3u);
  press(a, "QR-350", 0x08);  // held as the session leaves

  layer.setSessionActive(false);
  settle();
  ASSERT_TRUE(waitUntil([&] { return transport.closed(); }));
  transport.sync();
  // The held button ends before the mice are handed back, then the mouse
  // takes its button back and its node is closed.
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{13, 1, 0, 0}, {13, 0, 0, 0}}));
  EXPECT_EQ(callsAtHandBack.load(), 2u);
  EXPECT_FALSE(taps.takingOver);
  EXPECT_EQ(firstReport(a[0], 0x02), (Bytes{0x02, 0x00, 0, 0, 0, 0, 0, 0x02}));
  EXPECT_FALSE(transport.handleOf(a[0]).has_value());
  EXPECT_TRUE(transport.keptRestoreReports(a[0]).empty());
  // While away: commits and quitting send nothing, and a mouse plugged in
  // meanwhile is not opened.
  transport.clearSentReports(a[0]);
  layer.armConfigCountdown(1);
  const auto b = plug("QR-450");
  quiesce();
  EXPECT_TRUE(transport.sentReports(a[0]).empty());
  EXPECT_FALSE(transport.handleOf(b[0]).has_value());

  // Back: taken over, the nodes reopened, both mice found and configured.
  const uint64_t passes = layer.configurationPasses();
  layer.setSessionActive(true);
  ASSERT_TRUE(waitUntil([&] { return transport.handleOf(b[0]).has_value(); }));
  EXPECT_TRUE(taps.takingOver);
  quiesce();
  awaitConfiguration(passes);
  EXPECT_EQ(firstReport(a[0], 0x02), (Bytes{0x02, 0x08, 0, 0, 0, 0, 0, 0x0A}));
  nextDeviceChange();
  press(a, "QR-350", 0x08);
  EXPECT_EQ(runner.count(), 3u);
  press(a, "QR-350", 0x00);

  // Leaving and coming back before the settle delay has passed: the delayed
  // return that was overtaken does nothing.
  layer.setSessionActive(false);
  layer.setSessionActive(true);
  layer.setSessionActive(false);
  settle();
  ASSERT_TRUE(waitUntil([&] { return transport.closed(); }));
  quiesce();
  EXPECT_TRUE(transport.closed());
  transport.clearSentReports(a[0]);
  layer.restoreDevicesOnQuit();
  EXPECT_TRUE(transport.sentReports(a[0]).empty());
}

TEST_F(DeviceLayerTest, WakingUpConfiguresEveryMouseAndFindsOneThatStoppedAnsweringAgain) {
  const auto mice = startWithMice(0x08, {"QR-350", "QR-460"});
  const auto& b = mice[1];
  const auto handleB = transport.handleOf(b[0]);
  // Its receiver was reset and does not answer yet. (That the others are
  // configured again under their handles is checked in the guest.)
  transport.failReads(b[0], ETIMEDOUT);
  layer.recheckDevices();
  ASSERT_TRUE(waitUntil([&] { return transport.handleOf(b[0]) != handleB; }));
  quiesce();

  // Found again but still silent; it answers by the next wake-up.
  const auto silentB = transport.handleOf(b[0]);
  transport.failReads(b[0], 0);
  transport.clearSentReports(b[0]);
  layer.recheckDevices();
  ASSERT_TRUE(waitUntil([&] { return transport.handleOf(b[0]) != silentB; }));
  quiesce();
  EXPECT_EQ(layer.countSelectableDevices(), 2);
  EXPECT_FALSE(transport.sentReports(b[0]).empty());
}

TEST_F(DeviceLayerTest, ASilentMouseHoldsUpNeitherOtherMiceNorQuitting) {
  const auto a = startWithMice(0x08, {"QR-350"})[0];

  // A type-1 mouse that never answers its handshake.
  auto silent = transport.plugSilent(virtualMouse("QR-360"), 0);
  ASSERT_TRUE(waitUntil([&] { return transport.heldRequests(silent) == 1; }));
  // Mouse A's press goes through meanwhile.
  const VirtualMouse& qr350 = virtualMouse("QR-350");
  transport.sendInput(a[qr350.buttonInterface()], qr350.buttonReport(0x08));
  EXPECT_TRUE(waitUntil([&] { return runner.count() == 1; }));

  // Quitting: A gets its buttons back, and nobody waits for the silent one.
  transport.clearSentReports(a[0]);
  EXPECT_TRUE(returnsMeanwhile([&] { layer.restoreDevicesOnQuit(); }));
  EXPECT_EQ(firstReport(a[0]), (Bytes{0x02, 0, 0, 0, 0, 0, 0, 0x02}));
  EXPECT_TRUE(returnsMeanwhile([&] { layer.stop(); }));
  EXPECT_TRUE(layer.waitingOnDevice());

  // Its time-out ends its identification: asked once, never registered.
  transport.releaseRequests();
  ASSERT_TRUE(waitUntil([&] { return !layer.waitingOnDevice(); }));
  EXPECT_EQ(transport.transfers(silent), 1);
  EXPECT_EQ(layer.countSelectableDevices(), 1);
  EXPECT_EQ(log.count("does not answer"), 1u);
}

TEST_F(DeviceLayerTest, APassHeldUpByASlowMouseHoldsUpNeitherTheWindowNorQuitting) {
  const auto mice = startWithMice(0x08, {"QR-350", "QR-550"});
  const auto &slow = mice[0], &other = mice[1];

  // The mouse stops answering while a pass writes to it.
  transport.holdRequests(slow[0]);
  layer.armConfigCountdown(1);
  ASSERT_TRUE(waitUntil([&] { return transport.heldRequests(slow[0]) == 1; }));
  // What the window asks of the registry does not wait for the device.
  EXPECT_TRUE(returnsMeanwhile([&] {
    layer.countSelectableDevices();
    layer.describeDevice(0);
    layer.selectDevice(1);
  }));
  // Nor does quitting; the other mouse still gets its buttons back.
  transport.clearSentReports(other[0]);
  EXPECT_TRUE(returnsMeanwhile([&] { layer.restoreDevicesOnQuit(); }));
  EXPECT_EQ(firstReport(other[0])[5], 0x00);
  EXPECT_EQ(log.count("does not answer; left as it is"), 1u);

  // Once it times out, the pass under way sends it nothing more.
  transport.releaseRequests();
  ASSERT_TRUE(waitUntil([&] { return layer.settled(); }));
  EXPECT_TRUE(transport.sentReports(slow[0]).empty());
}

TEST_F(DeviceLayerTest, BadDevicesAreSkippedWithOneLineEach) {
  // Present at start, so the faults are in place before the listener looks.
  // A descriptor that ends in the middle of an item.
  transport.plugRaw(0x0C45, 0x7E20, {0x05, 0x01, 0x09, 0x02, 0xA1});
  // A node we may not open.
  transport.plug(virtualMouse("QR-460"), 0, EACCES);
  // A mouse that vanishes in the middle of its handshake.
  auto vanishing = transport.plug(virtualMouse("QR-550"), 0);
  transport.vanishAfterCalls(vanishing, 0);
  start();
  settle();
  EXPECT_EQ(log.count("skipped: report descriptor: truncated item"), 1u);
  EXPECT_EQ(log.count("Permission denied"), 1u);
  EXPECT_EQ(log.count("udev rule"), 1u);
  EXPECT_EQ(log.count("went away during identification"), 1u);

  // The listener carries on, and a short report is logged once, not acted on.
  auto ids = plug("QR-450");
  EXPECT_EQ(layer.countSelectableDevices(), 1);
  nextDeviceChange();
  transport.sendInput(ids[0], {0x07, 0x08});
  transport.sendInput(ids[0], {0x07, 0x08, 0x00});
  settle();
  EXPECT_EQ(runner.count(), 0u);
  EXPECT_EQ(log.count("input report of 2 bytes, 4 expected"), 1u);
  EXPECT_EQ(log.count("input report of"), 1u);
  press(ids, "QR-450", 0x10);  // swapped: the model's button 3
  EXPECT_EQ(runner.calls(), (std::vector<ButtonCall>{{13, 1, 0, 0}}));
}

// A mouse that comes and goes a hundred times a second, and one whose node
// may not be opened doing the same: a line of each kind, then the next one
// with the count once the interval is over.
TEST_F(DeviceLayerTest, AMouseThatKeepsComingAndGoingIsLoggedOnceThenCounted) {
  FakeClock logTime;
  setLogClock(&logTime);
  start();
  auto comeAndGo = [&] {
    for (DeviceId id : plug("QR-350")) unplug(id);
    unplug(transport.plug(virtualMouse("QR-460"), 0, EACCES));
  };
  for (int i = 0; i < 100; ++i) comeAndGo();
  logTime.advance(kRepeatInterval);
  comeAndGo();
  setLogClock(nullptr);
  // The QR-350's two nodes are two devices.
  EXPECT_EQ(log.count(": QR-350 (type 1"), 4u);
  EXPECT_EQ(log.count(" removed"), 4u);
  EXPECT_EQ(log.count("Permission denied"), 2u);
  EXPECT_EQ(log.count("(and 99 more like it since)"), 5u);
}

TEST_F(DeviceLayerTest, StopReleasesTheRefreshLoop) {
  start();
  auto waiting = std::async(std::launch::async, [this] { return layer.awaitDeviceChange(); });
  std::this_thread::sleep_for(10ms);
  layer.stop();
  ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(waiting.get().has_value());
  EXPECT_FALSE(layer.awaitDeviceChange().has_value());
  layer.postButtonMask(0x08);  // dropped, no crash
}

// Everything at once, for ThreadSanitizer above all: mice come, press and
// go while the "window" commits and moves the selection; the quit comes in
// the middle of it, and its reports stay the last each mouse receives.
TEST_F(DeviceLayerTest, StressHotPlugPressesCommitsSelectionAndAQuit) {
  start();
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
  layer.stop();
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_GT(after[i], before[i]) << kept[i].second;
    EXPECT_EQ(transport.sentReports(kept[i].first[0]).size(), after[i]) << kept[i].second;
  }
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
