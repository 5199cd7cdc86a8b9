// The handshakes against a device whose every answer, error and length comes
// from the fuzzer, and the configuration reports for any type and masks:
// nothing read or written past a buffer, no wait without end, and only
// identities of the kind the handshake was for.
#include <cerrno>
#include <mutex>
#include <vector>

#include "device/vendor_protocol.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using velt::DeviceHandle;
using velt::HidResult;

class ScriptedTransport : public velt::HidTransport {
 public:
  explicit ScriptedTransport(velt::fuzz::Input& in) : in_(in) {}

  bool open(std::string&) override { return true; }
  void run(velt::HidListener&) override {}
  void stop() override {}
  void wake() override {}
  void subscribeInput(DeviceHandle) override {}
  void reopenDevice(DeviceHandle) override {}
  void reopenAll() override {}
  void closeAll() override {}
  void keepRestoreReports(DeviceHandle, const std::vector<velt::ConfigurationReport>&) override {}

  HidResult setFeatureReport(DeviceHandle, uint8_t, std::span<const uint8_t> report) override {
    return outcome(report.size());
  }
  HidResult writeOutputReport(DeviceHandle, uint8_t, std::span<const uint8_t> report) override {
    return outcome(report.size());
  }
  HidResult getFeatureReport(DeviceHandle, uint8_t, std::span<uint8_t> buffer) override {
    return answer(buffer);
  }
  HidResult getInputReport(DeviceHandle, uint8_t, std::span<uint8_t> buffer) override {
    return answer(buffer);
  }
  int transfers = 0;

 private:
  HidResult outcome(size_t length) {
    ++transfers;
    static constexpr int kErrors[] = {0, 0, 0, ENODEV, ETIMEDOUT, EIO, EPIPE};
    const int error = kErrors[in_.pick(std::size(kErrors))];
    return {error, error ? 0 : length};
  }
  HidResult answer(std::span<uint8_t> buffer) {
    HidResult r = outcome(0);
    if (r.error) return r;
    // As a real device may: fewer bytes than asked for, never more.
    const auto bytes = in_.bytes(in_.pick(buffer.size() + 1));
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    r.length = bytes.size();
    return r;
  }

  velt::fuzz::Input& in_;
};

constexpr velt::DeviceKind kKinds[] = {
    velt::DeviceKind::Type1Mouse, velt::DeviceKind::Type1Input, velt::DeviceKind::Type2,
    velt::DeviceKind::Type6,      velt::DeviceKind::Type7,      velt::DeviceKind::Type10,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velt::fuzz::QuietLog quiet;
  velt::fuzz::Input in(data, size);
  const velt::DeviceKind kind = kKinds[in.pick(std::size(kKinds))];
  velt::HidDeviceInfo info;
  info.name = "/dev/hidraw0";
  velt::HidProperties& p = info.properties;
  p.vendorId = 0x0C45;
  p.productId = in.byte() << 8 | in.byte();
  p.maxInputReportSize = in.pick(66);
  p.maxOutputReportSize = in.pick(66);
  p.maxFeatureReportSize = in.pick(66);
  p.lastReportId = in.byte();
  const auto serial = in.bytes(in.pick(9));
  p.serialNumber.assign(serial.begin(), serial.end());

  ScriptedTransport transport(in);
  velt::fuzz::InstantClock clock;
  std::mutex probeLock;
  velt::HandshakeContext context{transport, clock, probeLock};
  std::vector<velt::DeviceIdentity> submitted;
  velt::identifyDevice(kind, 7, info, context,
                       [&](const velt::DeviceIdentity& id) { submitted.push_back(id); });
  velt::fuzz::check(submitted.size() <= 2, "more than two identities from one handshake");
  for (const auto& id : submitted) {
    velt::fuzz::check(id.handle == 7, "an identity for another device");
    velt::fuzz::check(id.type == velt::kDeviceType1 || id.type == velt::kDeviceType2 ||
                          id.type == velt::kDeviceType6 || id.type == velt::kDeviceType7 ||
                          id.type == velt::kDeviceType10,
                      "an identity of no known type");
  }
  // Every retry is bounded: a silent device cannot keep a handshake going.
  velt::fuzz::check(transport.transfers <= 64, "a handshake that does not give up");
  velt::fuzz::check(clock.now() - velt::Clock::TimePoint{} < std::chrono::seconds(30),
                    "a handshake that waits too long");

  // The configuration reports for whatever the registry could hold.
  const int32_t type = static_cast<int8_t>(in.byte());
  uint8_t sequence = in.byte();
  const uint8_t m = velt::configurationMask(type, in.byte(), in.byte(), in.byte() & 1);
  for (const auto& report : velt::configurationReports(type, m, in.byte(), sequence)) {
    velt::fuzz::check(!report.bytes.empty(), "an empty configuration report");
    velt::fuzz::check(report.reportId == 0 || report.bytes[0] == report.reportId,
                      "a numbered report that does not start with its number");
    velt::fuzz::check(report.pauseBefore >= velt::Clock::Duration::zero(), "a negative pause");
  }
  return 0;
}
