#include "platform/hidraw_transport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <thread>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

struct CountingListener : HidListener {
  std::atomic<int> matched{0};
  DeviceHandle next = 1;
  DeviceHandle newDeviceHandle() override { return next++; }
  void onDeviceMatched(DeviceHandle, const HidDeviceInfo&) override { ++matched; }
  void onDeviceRemoved(DeviceHandle) override {}
  void onInputReport(DeviceHandle, uint8_t, const uint8_t*, size_t) override {}
};

// This machine may have no hidraw devices at all; what can be checked here
// is that the listener starts, reports what exists, and stops on request.
TEST(HidrawTransportTest, ListensAndStops) {
  testing::CaptureLog log;
  HidrawTransport transport;
  std::string reason;
  if (!transport.open(reason)) GTEST_SKIP() << "no device events here: " << reason;
  CountingListener listener;
  auto running = std::async(std::launch::async, [&] { transport.run(listener); });
  std::this_thread::sleep_for(20ms);
  transport.stop();
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
  EXPECT_GE(listener.matched.load(), 0);
}

TEST(HidrawTransportTest, UnknownDevicesAndEarlyStop) {
  HidrawTransport transport;
  uint8_t buffer[8] = {};
  EXPECT_EQ(transport.getFeatureReport(42, 0, buffer).error, ENODEV);
  EXPECT_EQ(transport.setFeatureReport(42, 5, buffer).error, ENODEV);
  EXPECT_EQ(transport.writeOutputReport(42, 0, buffer).error, ENODEV);
  transport.subscribeInput(42);
  // Stopped before it runs: run returns at once.
  transport.stop();
  CountingListener listener;
  transport.run(listener);
  EXPECT_EQ(listener.matched.load(), 0);
}

}  // namespace
}  // namespace velt
