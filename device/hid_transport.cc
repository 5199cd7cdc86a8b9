#include "device/hid_transport.h"

namespace velt {

HidDeviceInfo makeHidDeviceInfo(std::string name, int32_t vendorId, int32_t productId,
                                std::string serialNumber, std::span<const uint8_t> descriptor,
                                int openError) {
  HidDeviceInfo info;
  info.name = std::move(name);
  info.openError = openError;
  HidProperties& p = info.properties;
  p.vendorId = vendorId;
  p.productId = productId;
  p.serialNumber = std::move(serialNumber);
  std::string reason;
  auto summary = parseReportDescriptor(descriptor, reason);
  if (!summary) {
    info.problem = "report descriptor: " + reason;
    return info;
  }
  static_cast<ReportDescriptorSummary&>(p) = *summary;
  return info;
}

}  // namespace velt
