#include "tools/virtual_mouse/virtual_mice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "device/vendor_reports.h"

namespace velt {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes padded(Bytes head, size_t length) {
  head.resize(length, 0);
  return head;
}

// Pointer: five buttons, padding, X, Y and wheel; 4 bytes of input.
const Bytes kPointer = {
    0x09, 0x01,              // Usage (Pointer)
    0xA1, 0x00,              // Collection (Physical)
    0x05, 0x09,              //   Usage Page (Button)
    0x19, 0x01, 0x29, 0x05,  //   Usage Minimum (1), Usage Maximum (5)
    0x15, 0x00, 0x25, 0x01,  //   Logical Minimum (0), Logical Maximum (1)
    0x95, 0x05, 0x75, 0x01,  //   Report Count (5), Report Size (1)
    0x81, 0x02,              //   Input (Data,Var,Abs)
    0x95, 0x01, 0x75, 0x03,  //   Report Count (1), Report Size (3)
    0x81, 0x01,              //   Input (Cnst)
    0x05, 0x01,              //   Usage Page (Generic Desktop)
    0x09, 0x30, 0x09, 0x31,  //   Usage (X), Usage (Y)
    0x09, 0x38,              //   Usage (Wheel)
    0x15, 0x81, 0x25, 0x7F,  //   Logical Minimum (-127), Logical Maximum (127)
    0x75, 0x08, 0x95, 0x03,  //   Report Size (8), Report Count (3)
    0x81, 0x06,              //   Input (Data,Var,Rel)
    0xC0,                    // End Collection
};

const Bytes kMouseApplication = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x02,  // Usage (Mouse)
    0xA1, 0x01,  // Collection (Application)
};

const Bytes kVendorBytes = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
    0x15, 0x00,        // Logical Minimum (0)
    0x26, 0xFF, 0x00,  // Logical Maximum (255)
    0x75, 0x08,        // Report Size (8)
};

const Bytes kEnd = {0xC0};

Bytes reportId(uint8_t id) {
  return {0x85, id};
}
Bytes vendorItem(uint8_t usage, uint8_t count, uint8_t main) {
  return {0x09, usage, 0x95, count, main, 0x02};
}
constexpr uint8_t kInputItem = 0x81;
constexpr uint8_t kOutputItem = 0x91;
constexpr uint8_t kFeatureItem = 0xB1;

// A mouse with an unnumbered 8-byte vendor feature report beside its pointer.
Bytes mouseWithFeature8() {
  return join({kMouseApplication, kPointer, kVendorBytes, vendorItem(0x01, 8, kFeatureItem), kEnd});
}

VirtualMouse type1(std::string model, int32_t vendorId, int32_t productId, int32_t modelNumber) {
  VirtualMouse m{std::move(model), 1, modelNumber, vendorId, productId, "", {}};
  VirtualInterface mouse{"mouse", mouseWithFeature8(), {}, false};
  mouse.answers.push_back(
      {VirtualReportKind::Feature, 0, identificationAnswer(1, uint8_t(modelNumber))});
  // The vendor interface: report 0x12, 8 bytes of button state.
  VirtualInterface vendor{"vendor",
                          join({{0x06, 0x29, 0xFF, 0x09, 0x01, 0xA1, 0x01},
                                reportId(kType1ButtonReport),
                                {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08},
                                vendorItem(0x01, 8, kInputItem),
                                kEnd}),
                          {},
                          true};
  m.interfaces = {mouse, vendor};
  return m;
}

VirtualMouse type2(std::string model, int32_t productId, int32_t modelNumber, std::string serial) {
  VirtualMouse m{std::move(model), 2, modelNumber, 0x0C45, productId, std::move(serial), {}};
  const uint8_t lastId = productId == 0x7E1A ? 0x07 : 0x08;
  Bytes descriptor = join({kMouseApplication, reportId(0x01), kPointer, kVendorBytes,
                           reportId(kType2ReportId), vendorItem(0x01, 20, kFeatureItem),
                           reportId(kButtonReportId), vendorItem(0x02, 7, kInputItem)});
  if (lastId == 0x08)
    descriptor = join({descriptor, reportId(0x08), vendorItem(0x03, 7, kFeatureItem)});
  descriptor = join({descriptor, kEnd});
  VirtualInterface mouse{"mouse", descriptor, {}, true};
  mouse.answers.push_back(
      {VirtualReportKind::Feature, kType2ReportId, identificationAnswer(2, uint8_t(modelNumber))});
  m.interfaces = {mouse};
  return m;
}

VirtualMouse type6(std::string model, int32_t modelNumber) {
  VirtualMouse m{std::move(model), 6, modelNumber, 0x0C45, 0x7E0E, "", {}};
  VirtualInterface mouse{
      "mouse",
      join({kMouseApplication, reportId(0x01), kPointer, kVendorBytes, reportId(kType6ReportId),
            vendorItem(0x01, 34, kInputItem), vendorItem(0x02, 34, kOutputItem),
            vendorItem(0x03, 34, kFeatureItem), kEnd}),
      {},
      true};
  // Answers once it has been asked with report 7.
  mouse.answers.push_back(
      {VirtualReportKind::Input, kType6ReportId, identificationAnswer(6, uint8_t(modelNumber)), 1});
  m.interfaces = {mouse};
  return m;
}

VirtualMouse type7(std::string model, int32_t productId) {
  VirtualMouse m{std::move(model), 7, 0, 0x062A, productId, "", {}};
  VirtualInterface mouse{"mouse", mouseWithFeature8(), {}, false};
  VirtualInterface vendor{"vendor",
                          join({{0x06, 0x12, 0xFF, 0x09, 0x01, 0xA1, 0x01},
                                {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08},
                                vendorItem(0x01, 8, kInputItem),
                                vendorItem(0x02, 8, kOutputItem),
                                kEnd}),
                          {},
                          true};
  m.interfaces = {mouse, vendor};
  return m;
}

VirtualMouse type10(std::string model, int32_t modelNumber) {
  VirtualMouse m{std::move(model), 10, modelNumber, 0x0C45, 0x7E2B, "", {}};
  // Unnumbered: pointer bytes 0 to 3, the vendor button state from byte 4,
  // and a 32-byte feature report.
  VirtualInterface mouse{
      "mouse",
      join({kMouseApplication, kPointer, kVendorBytes, vendorItem(0x01, 4, kInputItem),
            vendorItem(0x02, 32, kFeatureItem), kEnd}),
      {},
      true};
  mouse.answers.push_back(
      {VirtualReportKind::Feature, 0, identificationAnswer(10, uint8_t(modelNumber))});
  m.interfaces = {mouse};
  return m;
}

VirtualMouse otherMouse() {
  // pid.codes' test id: an ordinary mouse of no supported make.
  VirtualMouse m{"Other mouse", 254, 0, 0x1209, 0x0001, "", {}};
  m.interfaces = {{"mouse", join({kMouseApplication, kPointer, kEnd}), {}, true}};
  return m;
}

// The example mouse of the HID class definition: three buttons, X and Y.
VirtualMouse exampleBootMouse() {
  VirtualMouse m{"Boot mouse", 254, 0, 0x1209, 0x0002, "", {}};
  const Bytes descriptor = {
      0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
      0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
      0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
      0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0,
  };
  m.interfaces = {{"mouse", descriptor, {}, true}};
  return m;
}

}  // namespace

std::optional<std::vector<uint8_t>> VirtualResponder::read(VirtualReportKind kind, uint8_t reportId,
                                                           size_t maxLength) const {
  for (const VirtualAnswer& a : answers_) {
    if (a.kind != kind || a.reportId != reportId) continue;
    auto asked = requests_.find(reportId);
    if ((asked == requests_.end() ? 0 : asked->second) < a.requestsFirst) {
      // Not asked yet: an empty report.
      std::vector<uint8_t> zeros(std::min(maxLength, a.bytes.size()), 0);
      if (reportId != 0 && !zeros.empty()) zeros[0] = reportId;
      return zeros;
    }
    return std::vector<uint8_t>(a.bytes.begin(),
                                a.bytes.begin() + std::min(maxLength, a.bytes.size()));
  }
  return std::nullopt;
}

size_t VirtualMouse::buttonInterface() const {
  for (size_t i = 0; i < interfaces.size(); ++i) {
    if (interfaces[i].sendsButtons) return i;
  }
  return 0;
}

std::vector<uint8_t> VirtualMouse::buttonReport(uint8_t mask, uint8_t extraCode) const {
  // Type 7 and other makers' mice report their buttons in byte 0, as
  // ordinary mice do.
  if (type == 7) return padded({mask}, 8);
  auto report = velt::buttonReport(type, mask, extraCode);
  return report.empty() ? padded({mask}, 4) : report;
}

const std::vector<VirtualMouse>& virtualMice() {
  static const std::vector<VirtualMouse> mice = {
      type1("QR-350", 0x0C45, 0x7E20, 0x35),
      type1("QR-360", 0x3A5D, 0x2410, 0x36),
      // The model number comes from the serial number's fifth and sixth
      // characters, so this one needs no handshake.
      type2("QR-450", 0x7E1C, 0x45, "AB0145000123"),
      type2("QR-460", 0x7E29, 0x46, ""),
      type6("QR-250", 0x25),
      type10("QR-550", 0x55),
      type7("QR-150", 0x410C),
      type7("QR-160", 0x410E),
      otherMouse(),
  };
  return mice;
}

const VirtualMouse& bootMouse() {
  static const VirtualMouse mouse = exampleBootMouse();
  return mouse;
}

const VirtualMouse& virtualMouse(std::string_view model) {
  for (const auto& m : virtualMice()) {
    if (m.model == model) return m;
  }
  std::fprintf(stderr, "no virtual mouse %.*s\n", static_cast<int>(model.size()), model.data());
  std::abort();
}

}  // namespace velt
