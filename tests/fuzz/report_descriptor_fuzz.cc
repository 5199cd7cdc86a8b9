// The report-descriptor parser on any descriptor: nothing read out of
// bounds, and every figure within what a descriptor of that length can
// describe.
#include "device/hid_transport.h"
#include "device/vendor_protocol.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velt::fuzz::Input in(data, size);
  // The ids and the serial number first, so the fuzzer reaches every rule.
  const int32_t vendor = in.byte() << 8 | in.byte();
  const int32_t product = in.byte() << 8 | in.byte();
  const auto serial = in.bytes(in.pick(9));
  const auto descriptor = in.bytes(size);

  const velt::HidDeviceInfo info = velt::makeHidDeviceInfo(
      "/dev/hidraw0", vendor, product, std::string(serial.begin(), serial.end()), descriptor, 0);
  if (!info.problem.empty()) return 0;
  const velt::HidProperties& p = info.properties;
  for (int32_t bytes : {p.maxInputReportSize, p.maxOutputReportSize, p.maxFeatureReportSize}) {
    velt::fuzz::check(bytes >= 0, "a negative report size");
  }
  velt::fuzz::check(p.lastReportId >= 0 && p.lastReportId <= 255, "a report id past a byte");
  velt::describeHidDevice(info);
  return 0;
}
