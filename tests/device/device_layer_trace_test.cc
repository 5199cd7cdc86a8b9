// The device layer's logic, driven from the test's thread: each test is a
// trace of commands, each followed by what the layer did (device_trace.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "tests/device/device_trace.h"

namespace velt::testing {
namespace {

// Runs the commands of expected (a raw string that starts with a newline)
// and compares the trace they make with it. VELT_PRINT_TRACES=1 prints each
// trace made, to write a new one from.
void expectTrace(DeviceTraceRig& rig, std::string_view expected) {
  expected.remove_prefix(1);
  const std::string actual = rig.traceOf(std::string(expected));
  EXPECT_EQ(actual, expected);
  if (std::getenv("VELT_PRINT_TRACES")) std::printf("=====\n%s=====\n", actual.c_str());
}

TEST(DeviceTraceTest, StartingOnceIdlingAndStopping) {
  DeviceTraceRig noTaps;
  expectTrace(noTaps, R"(
refuse taps
start
  not started
start
  log: skip initial lib...
  not started
quit
  quit: 0 restored in 0 ms
)");
  DeviceTraceRig noListener;
  expectTrace(noListener, R"(
fail open no netlink socket
start
  log: initial lib...
  log: HID listener cannot start: no netlink socket
  log: register usb error
  fatal error
)");
  DeviceTraceRig idle;
  expectTrace(idle, R"(
show timers
start
  log: initial lib...
tick 5
notice-in 600
  timer: notify device change in 800 ms
tick 4
  notice: no mouse
  overlay hidden
tick 5
stop
  stopped
await
  notice: stopped
mask 08
)");
}

TEST(DeviceTraceTest, MiceAreIdentifiedConfiguredAndListed) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
show registry
start
  log: initial lib...
plug QR-350
  log: device 2: QR-350 (type 1, model -1)
  registered: 0C45:7E20
  log: device 1: QR-350 (type 1, model 53)
  registered: 0C45:7E20 0C45:7E20
  QR-350/0: identify, follow-up
  QR-350/1: read
tick 3
  notice: QR-350 (key 1) at 0
  QR-350/0: masks 00 00 seq 1
describe 0
  QR-350 type 1 model 53 key 1 extras 3 image qr350.png
describe 1
  none
press QR-350 08
  function 13 down
press QR-350 00
  function 13 up
intercept 08
plug QR-450
  log: device 3: QR-450 (type 2, model 69)
  registered: 0C45:7E20 0C45:7E20 0C45:7E1C
  QR-450/0: read
plug QR-150
  log: device 5: QR-150 (type 7, model 0)
  registered: 0C45:7E20 0C45:7E20 0C45:7E1C 062A:410C
  QR-150/1: read
tick 3
  notice: QR-350 (key 1) at 0
  QR-350/0: masks 08 00 seq 2, restore kept
  QR-450/0: masks 10 00, restore kept
describe 1
  QR-450 type 2 model 69 key 3 extras 3 image qr450.png
describe 2
  QR-150 type 7 model 0 key 5 extras 0 image qr150.png
)");
}

TEST(DeviceTraceTest, EveryShippedModelHasAVirtualMouseRecognisedAsIt) {
  DeviceTraceRig rig;
  rig.run("start");
  for (const VirtualMouse& m : virtualMice()) {
    if (m.type != kDeviceOtherMouse) rig.run("plug " + m.model);
  }
  // So the tests and the simulator cover every model the agent supports.
  std::set<std::string> listed;
  for (int32_t i = 0; i < rig.layer().countSelectableDevices(); ++i) {
    DeviceRecord record = rig.layer().describeDevice(i);
    EXPECT_EQ(record.modelId, virtualMouse(record.name).modelNumber) << record.name;
    EXPECT_EQ(record.type, rig.catalogue.at(record.name).type) << record.name;
    EXPECT_TRUE(listed.insert(record.name).second) << record.name << " listed twice";
  }
  std::set<std::string> shipped;
  for (const auto& [name, model] : rig.catalogue) shipped.insert(name);
  EXPECT_EQ(listed, shipped);
}

TEST(DeviceTraceTest, OtherMiceNeedAModelOfTheirOwn) {
  DeviceTraceRig without;
  expectTrace(without, R"(
start
  log: initial lib...
plug Other_mouse/0
tick 3
  notice: no mouse
  overlay hidden
)");
  DeviceTraceRig with([](ModelCatalogue& catalogue) {
    const VirtualMouse& other = virtualMouse("Other mouse");
    ModelDefinition generic;
    generic.name = "Any mouse";
    generic.type = kDeviceOtherMouse;
    generic.modelId = 99;
    generic.usbVid = other.vendorId;
    generic.usbPid = other.productId;
    generic.buttonMask = 0x1E;
    generic.buttonPos.resize(5);
    catalogue[generic.name] = generic;
  });
  expectTrace(with, R"(
start
  log: initial lib...
plug Other_mouse/0
  log: device 1: Any mouse (type 254, model 0)
tick 3
  notice: Any mouse (key 1) at 0
pass
)");
}

TEST(DeviceTraceTest, ButtonsWaitForTheFirstNoticeAndTheSelectionFollowsTheMouse) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
start
  log: initial lib...
plug QR-450
  log: device 1: QR-450 (type 2, model 69)
  QR-450/0: read
press QR-450 08
press QR-450 00
tick 3
  notice: QR-450 (key 1) at 0
  QR-450/0: masks 00 00
press QR-450 10
  function 13 down
press QR-450 10
press QR-450 00
  function 13 up
plug QR-450
  log: device 2: QR-450 (type 2, model 69)
  QR-450'2/0: read
plug QR-350
  log: device 4: QR-350 (type 1, model -1)
  log: device 3: QR-350 (type 1, model 53)
  QR-350/0: identify, follow-up
  QR-350/1: read
describe 0
  QR-450 type 2 model 69 key 1 extras 3 image qr450.png
describe 1
  QR-450 type 2 model 69 key 2 extras 3 image qr450.png
select 2
  selected 2
tick 1
  notice: QR-350 (key 3) at 2
select 7
  selected 0
select 2
  selected 2
tick 1
  notice: QR-350 (key 3) at 2
unplug QR-450
  log: device 1 removed
tick 3
  QR-450'2/0: masks 00 00
  QR-350/0: masks 00 00 seq 1
  notice: QR-350 (key 3) at 1
unplug QR-350
  log: device 3 removed
  log: device 4 removed
tick 3
  notice: QR-450 (key 2) at 0
)");
}

TEST(DeviceTraceTest, MiceLeavingWithButtonsDownReleaseThem) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
show registry
assign standard 3 27 40 2
assign extra 0 23
mice QR-550 QR-460
press QR-460 08
  function 27 down 28 02
press QR-460 08 FE
  function 23 down
unplug QR-460/0
  log: device 2 removed
  function 27 up 28 02
  function 23 up
  registered: 0C45:7E2B
# Nothing held, or released before: nothing to release.
plug QR-460
  registered: 0C45:7E2B 0C45:7E29
  QR-460'2/0: read
press QR-460'2 00 FE
  function 23 down
press QR-460'2 00 FD
  function 23 up
unplug QR-460'2/0
  registered: 0C45:7E2B
# The last mouse leaves with a button down.
press QR-550 08
  function 27 down 28 02
unplug QR-550
  log: device 1 removed
  function 27 up 28 02
  registered:
tick 3
  notice: no mouse
  overlay hidden
describe 0
  none
)");
}

TEST(DeviceTraceTest, CommitsAndQuitSendTheMasks) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
intercept 10
mice QR-350 QR-360
intercept 08
arm 1
tick 1
  QR-350/0: masks 08 00 seq 3
  QR-360/0: masks 08 00 seq 4
quit
  quit: 2 restored in 0 ms
  QR-350/0: masks 00 00 seq 5, restore dropped
  QR-360/0: masks 00 00 seq 6, restore dropped
intercept 08
arm 1
tick 1
pass
)");
}

TEST(DeviceTraceTest, LeavingTheSeatGivesTheButtonsBackUntilComingBack) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
intercept 08
mice QR-350
press QR-350 08
  function 13 down
leave
  function 13 up
  taps give the mice back
  log: session inactive: 1 mouse given back
  log: device 1 removed
  log: device 2 removed
  QR-350/0: masks 00 00 seq 2, restore dropped
  QR-350/1: not read
  nodes closed
arm 1
plug QR-450
tick 3
  notice: no mouse
  overlay hidden
return
tick 5
  taps take the mice
  log: device 5: QR-450 (type 2, model 69)
  QR-350/0: identify, follow-up
  QR-350/1: read
  QR-450/0: read
  nodes reopened
tick 3
  notice: QR-350 (key 3) at 0
  QR-350/0: masks 08 00 seq 3, restore kept
  QR-450/0: masks 10 00, restore kept
press QR-350 08
  function 13 down
press QR-350 00
  function 13 up
# Leaving and coming back within the settle delay: the return that was
# overtaken does nothing.
leave
  taps give the mice back
  log: session inactive: 2 mice given back
  log: device 5 removed
  QR-350/0: masks 00 00 seq 4, restore dropped
  QR-350/1: not read
  QR-450/0: masks 00 00, not read, restore dropped
  nodes closed
return
leave
  taps give the mice back
  log: session inactive: 0 mice given back
tick 5
  notice: no mouse
  overlay hidden
quit
  quit: 0 restored in 0 ms
)");
}

TEST(DeviceTraceTest, WakingUpConfiguresEveryMouseAndFindsOneThatStoppedAnswering) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
intercept 08
mice QR-350 QR-460
silent QR-460
wake
  log: virtual-hidraw2 (0C45:7E29) does not answer (Connection timed out); identification ends
  log: device 3 does not answer as it did; looking for it again
  log: device 3 removed
  QR-350/0: identify, follow-up
  QR-460/0: not read, restore dropped
tick 3
  QR-350/0: masks 08 00 seq 2
  notice: QR-350 (key 1) at 0
answers QR-460
wake
  QR-350/0: identify, follow-up
  QR-460/0: read
tick 3
  notice: QR-350 (key 1) at 0
  QR-350/0: masks 08 00 seq 3
  QR-460/0: masks 08 00, restore kept
)");
}

TEST(DeviceTraceTest, ASilentMouseHoldsUpNeitherOtherMiceNorQuitting) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
intercept 08
mice QR-350
hold jobs
plug QR-360/0
press QR-350 08
  function 13 down
silent QR-360
quit
  quit: 1 restored in 0 ms
  QR-350/0: masks 00 00 seq 2, restore dropped
run jobs
  log: virtual-hidraw2 (3A5D:2410) does not answer (Connection timed out); identification ends
  QR-360/0: identify
stop
  stopped
)");
}

TEST(DeviceTraceTest, BadDevicesAreSkippedWithOneLineEach) {
  DeviceTraceRig rig;
  expectTrace(rig, R"(
plug-raw 0C45 7E20 05 01 09 02 A1
plug QR-460/0 denied
plug QR-550/0
vanish QR-550/0 after 0
start
  log: initial lib...
  log: virtual-hidraw0 (0C45:7E20) skipped: report descriptor: truncated item at byte 4
  log: cannot open virtual-hidraw1 (0C45:7E29): Permission denied. Give your user read and write access to the mouse's hidraw nodes with the udev rule described in the README ("Access to the mice"), then plug the mouse in again
  log: virtual-hidraw2 (0C45:7E2B) went away during identification (No such device)
plug QR-450
  log: device 4: QR-450 (type 2, model 69)
  QR-450/0: read
tick 3
  notice: QR-450 (key 4) at 0
  QR-450/0: masks 00 00
input QR-450/0 07 08
  log: device 4 (QR-450): input report of 2 bytes, 4 expected; ignored
input QR-450/0 07 08 00
press QR-450 10
  function 13 down
)");
}

// A mouse that comes and goes a hundred times a second, and one whose node
// may not be opened doing the same: a line of each kind, then the next one
// with the count once the interval is over.
TEST(DeviceTraceTest, AMouseThatKeepsComingAndGoingIsLoggedOnceThenCounted) {
  FakeClock logTime;
  setLogClock(&logTime);
  DeviceTraceRig rig;
  rig.run("start");
  for (int i = 0; i < 100; ++i) {
    for (const char* command :
         {"plug QR-350 as A", "unplug A", "plug QR-460/0 as B denied", "unplug B"}) {
      rig.run(command);
    }
  }
  logTime.advance(kRepeatInterval);
  expectTrace(rig, R"(
plug QR-350 as A
  log: device 302: QR-350 (type 1, model -1) (and 99 more like it since)
  log: device 301: QR-350 (type 1, model 53) (and 99 more like it since)
  A/0: identify, follow-up
  A/1: read
unplug A
  log: device 301 removed (and 99 more like it since)
  log: device 302 removed (and 99 more like it since)
plug QR-460/0 as B denied
  log: cannot open virtual-hidraw0 (0C45:7E29): Permission denied. Give your user read and write access to the mouse's hidraw nodes with the udev rule described in the README ("Access to the mice"), then plug the mouse in again (and 99 more like it since)
unplug B
)");
  setLogClock(nullptr);
}

}  // namespace
}  // namespace velt::testing
