// The properties the device layer needs, worked out from a HID report
// descriptor. Bounded and safe on any input: nothing is read past the end,
// and malformed or hostile descriptors are rejected with a reason.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velt {

struct ReportDescriptorSummary {
  // Usage page and usage of the first application collection; 0 when none.
  uint32_t primaryUsagePage = 0;
  uint32_t primaryUsage = 0;
  // The largest report of each kind in bytes, one more when the device
  // numbers its reports; 0 when there is no report of that kind.
  int32_t maxInputReportSize = 0;
  int32_t maxOutputReportSize = 0;
  int32_t maxFeatureReportSize = 0;
  // The report id of the last input, output or feature item that has one;
  // 0 when the reports are not numbered.
  int32_t lastReportId = 0;
  bool numberedReports = false;
};

// Longer descriptors are refused; the kernel refuses them as well.
inline constexpr size_t kMaxReportDescriptorSize = 4096;

std::optional<ReportDescriptorSummary> parseReportDescriptor(std::span<const uint8_t> descriptor,
                                                             std::string& reason);

}  // namespace velt
