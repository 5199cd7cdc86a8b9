#include "device/vendor_protocol.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <thread>
#include <tuple>

#include "testing/fake_hid_transport.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::CaptureLog;
using testing::FakeClock;
using Bytes = std::vector<uint8_t>;

TEST(ConfigurationReportTest, MaskTakesTheAssignedButtonsTheModelOffers) {
  EXPECT_EQ(configurationMask(1, 0x1E, 0x1C, 0), 0x1C);
  EXPECT_EQ(configurationMask(1, 0x18, 0x1C, 0), 0x18);
  // Only type 2 exchanges the side buttons.
  EXPECT_EQ(configurationMask(2, 0x1E, 0x08, 1), 0x10);
  EXPECT_EQ(configurationMask(2, 0x1E, 0x18, 1), 0x18);
  EXPECT_EQ(configurationMask(2, 0x1E, 0x08, 0), 0x08);
  EXPECT_EQ(configurationMask(1, 0x1E, 0x08, 1), 0x08);
  EXPECT_FALSE(isConfigurable(1, kAnyModel));
  EXPECT_FALSE(isConfigurable(254, 0));
  EXPECT_TRUE(isConfigurable(10, 0));
}

Bytes padded(Bytes head, size_t length) {
  head.resize(length, 0);
  return head;
}

// The one place that spells the protocol's bytes; the agent, the virtual mice
// and the guest's checks build theirs from the functions checked here.
TEST(VendorReportsTest, BytesBothWays) {
  EXPECT_EQ(type1Request(), (Bytes{0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01}));
  const Bytes follow = {0x00, 0x12, 0x12, 0x12, 0x12, 0x12, 0x12, 0x00};
  EXPECT_EQ(type1FollowUp(), follow);
  EXPECT_EQ(type2Request(), padded({0x05}, 21));
  EXPECT_EQ(type6Request(31), padded({0x07}, 31));

  EXPECT_EQ(identificationAnswer(1, 0x35), padded({'I', 'R', 0x00, 0x35}, 21));
  EXPECT_EQ(identificationAnswer(2, 0x46), padded({0x05, 'A', 'B', 0x00, 0x00, 0x46}, 21));
  EXPECT_EQ(identificationAnswer(6, 0x25), padded({0x07, 0x00, 'B', 'T', 0x00, 0x25}, 35));
  EXPECT_EQ(identificationAnswer(10, 0x55),
            padded({0x0C, 0x12, 0x03, 0x05, 'A', 'M', 0x00, 0x55}, 32));
  for (int32_t type : {1, 2, 6, 10}) {
    Bytes answer = identificationAnswer(type, 0x42);
    EXPECT_TRUE(isIdentificationAnswer(type, answer)) << type;
    EXPECT_EQ(answeredModel(type, answer), 0x42) << type;
    // What a mouse that has not been asked yet reads back.
    EXPECT_FALSE(isIdentificationAnswer(type, Bytes(answer.size(), 0))) << type;
  }
  EXPECT_FALSE(isIdentificationAnswer(10, Bytes{0x0C, 0x12, 0x03, 0x05, 'A', 'M'}));

  // Configuration: type 1 with M = 10 and H = 04 on the first pass after
  // start, type 2 with M = 1C and H = 04, type 6 and type 10 with M = 1E.
  uint8_t sequence = 0;
  auto type1 = configurationReports(1, 0x10, 0x04, sequence);
  ASSERT_EQ(type1.size(), 3u);
  EXPECT_EQ(type1[0].bytes, (Bytes{0x02, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12}));
  EXPECT_EQ(type1[1].bytes, follow);
  EXPECT_EQ(type1[2].bytes, (Bytes{0x06, 0xE1, 0x04, 0x00, 0xE5, 0x00, 0x00, 0x06}));
  auto type2 = configurationReports(2, 0x1C, 0x04, sequence);
  ASSERT_EQ(type2.size(), 2u);
  EXPECT_EQ(type2[0].bytes, padded({0x05, 0x00, 0x00, 0x11, 0x11, 0x1C}, 21));
  EXPECT_EQ(type2[1].bytes, padded({0x05, 0x00, 0x00, 0x11, 0x0F, 0x04}, 21));
  EXPECT_EQ(configurationReports(6, 0x1E, 0x04, sequence).at(0).bytes,
            padded({0x07, 0x01, 0x0C, 0x12, 0x03, 0x05, 0x1E}, 35));
  EXPECT_EQ(configurationReports(10, 0x1E, 0x04, sequence).at(0).bytes,
            padded({0x0C, 0x12, 0x03, 0x05, 0x01, 0x1E, 0x00, 0x1F}, 16));
  EXPECT_EQ(type1[2].reportId, 0);
  EXPECT_EQ(type2[1].reportId, 0x05);

  // Buttons: side button 3 and extra code FA.
  EXPECT_EQ(buttonReport(1, 0x08, 0xFA), padded({0x12, 0x14, 0x08, 0x00, 0xFA}, 9));
  EXPECT_EQ(buttonReport(1, 0x08), padded({0x12, 0x12, 0x08}, 9));
  EXPECT_EQ(buttonReport(2, 0x08, 0xFA), padded({0x07, 0x08, 0x00, 0xFA}, 8));
  EXPECT_EQ(buttonReport(6, 0x08), padded({0x07, 0x08}, 35));
  EXPECT_EQ(buttonReport(10, 0x08), padded({0x00, 0x00, 0x00, 0x00, 0x08}, 8));
}

TEST(ConfigurationReportTest, Type1SequenceAndPauses) {
  uint8_t sequence = 0;
  auto r = configurationReports(1, 0x10, 0x04, sequence);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].pauseBefore, 0us);
  EXPECT_EQ(r[1].pauseBefore, 20us);
  EXPECT_EQ(r[2].pauseBefore, 20us);

  // S runs E1, E2, ... EF, E0 and wraps with the 8-bit counter; the last byte
  // is always 06. No other type advances it.
  for (int pass = 2; pass <= 300; ++pass) {
    auto extra = configurationReports(1, 0x1E, 0x06, sequence)[2].bytes;
    EXPECT_EQ(extra[1], 0xE0 | (pass & 0x0F)) << pass;
    EXPECT_EQ(extra[4], extra[1] ^ 0x06);
    EXPECT_EQ(extra[7], 0x06);
    configurationReports(2 + pass % 3 * 4, 0x1E, 0x06, sequence);  // types 2, 6 and 10
  }
  EXPECT_EQ(sequence, 300 % 256);
  for (int32_t type : {3, 7, 254}) {
    EXPECT_TRUE(configurationReports(type, 0x1E, 6, sequence).empty());
  }
}

// What a handshake submitted: type, model and whether it carries no input.
using Id = std::tuple<int32_t, int32_t, bool>;
using Ids = std::vector<Id>;

// Runs handshakes against virtual mice on the test thread; the fake's
// listener thread only delivers the devices.
class HandshakeTest : public ::testing::Test {
 protected:
  struct Listener : HidListener {
    std::mutex mutex;
    std::map<DeviceHandle, HidDeviceInfo> infos;
    DeviceHandle next = 1;
    DeviceHandle newDeviceHandle() override { return next++; }
    void onDeviceMatched(DeviceHandle device, const HidDeviceInfo& info) override {
      std::lock_guard lock(mutex);
      infos[device] = info;
    }
    void onDeviceRemoved(DeviceHandle) override {}
    void onInputReport(DeviceHandle, uint8_t, const uint8_t*, size_t) override {}
  };

  ~HandshakeTest() override {
    transport.stop();
    thread.join();
  }

  std::vector<Id> identify(FakeHidTransport::DeviceId id) {
    transport.sync();
    const DeviceHandle handle = transport.handleOf(id).value();
    HidDeviceInfo info;
    {
      std::lock_guard lock(listener.mutex);
      info = listener.infos.at(handle);
    }
    HandshakeContext context{transport, clock, probeLock};
    std::vector<Id> submitted;
    identifyDevice(
        classifyDevice(classes, info.properties), handle, info, context,
        [&](const DeviceIdentity& i) { submitted.emplace_back(i.type, i.modelId, i.noInput); });
    return submitted;
  }

  const DeviceClasses classes = loadModelCatalogue(testing::sourceResources() / "model").classes;
  CaptureLog log;
  FakeClock clock;
  std::mutex probeLock;
  FakeHidTransport transport;
  Listener listener;
  std::thread thread{[this] { transport.run(listener); }};
};

// What a handshake submits, where the registrations it makes with the
// shipped models look alike; the layer's traces (handshakes.trace) show the
// requests, the pauses and what is registered.
TEST_F(HandshakeTest, WhatUnansweredHandshakesSubmit) {
  // Type 1 without an answer: model 0.
  auto type1 = transport.plug(virtualMouse("QR-360"), 0);
  transport.failReads(type1, EPIPE);
  EXPECT_EQ(identify(type1), (Ids{{1, 0, true}}));
  EXPECT_EQ(log.count("did not answer"), 1u);

  // Type 6 registers at once, as model 0, then with what it answers; asked
  // five times in vain it stays model 0, timed out it asks no more.
  EXPECT_EQ(identify(transport.plug(virtualMouse("QR-250"), 0)),
            (Ids{{6, 0, false}, {6, 0x25, false}}));
  auto mute = transport.plug(virtualMouse("QR-250"), 0);
  transport.failReads(mute, EPIPE);
  EXPECT_EQ(identify(mute), (Ids{{6, 0, false}, {6, 0, false}}));
  EXPECT_EQ(transport.sentReports(mute).size(), 5u);
  auto silent = transport.plug(virtualMouse("QR-250"), 0);
  transport.failReads(silent, ETIMEDOUT);
  EXPECT_EQ(identify(silent), (Ids{{6, 0, false}}));
  EXPECT_EQ(transport.transfers(silent), 1);
}

}  // namespace
}  // namespace velt
