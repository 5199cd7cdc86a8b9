#include "platform/hidraw_transport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>

namespace velt {
namespace {

using namespace std::chrono_literals;

struct NullListener : HidListener {
  DeviceHandle next = 1;
  DeviceHandle newDeviceHandle() override { return next++; }
  void onDeviceMatched(DeviceHandle, const HidDeviceInfo&) override {}
  void onDeviceRemoved(DeviceHandle) override {}
  void onInputReport(DeviceHandle, uint8_t, const uint8_t*, size_t) override {}
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
  NullListener listener;
  auto running = std::async(std::launch::async, [&] { transport.run(listener); });
  transport.stop();
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
}

}  // namespace
}  // namespace velt
