// Declarative descriptions of the supported mice as the agent sees them over
// HID: their ids, interfaces, report descriptors, serial numbers and the
// answers they give to the identification handshakes. The in-process fake
// transport and the kernel-level mouse simulator both build on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velt {

enum class VirtualReportKind { Input, Output, Feature };

// What a mouse answers when the agent reads a report.
struct VirtualAnswer {
  VirtualReportKind kind;  // Feature: a feature get; Input: an input get
  uint8_t reportId;
  std::vector<uint8_t> bytes;  // the buffer from byte 0, report id first when not 0
  // The mouse gives this answer only after the agent has set this many
  // reports with the same id; before that it answers with zeros.
  int requestsFirst = 0;
};

// One HID interface: one hidraw node.
struct VirtualInterface {
  std::string label;
  std::vector<uint8_t> reportDescriptor;
  std::vector<VirtualAnswer> answers;
  bool sendsButtons = false;  // the button reports arrive on this interface
};

struct VirtualMouse {
  std::string model;        // the catalogue's model name
  int32_t type = 0;         // the device type identification assigns
  int32_t modelNumber = 0;  // what identification learns
  int32_t vendorId = 0;
  int32_t productId = 0;
  std::string serialNumber;
  std::vector<VirtualInterface> interfaces;

  size_t buttonInterface() const;
  // The input report the mouse sends when its buttons are in mask and an
  // extra button reports extraCode (0: none).
  std::vector<uint8_t> buttonReport(uint8_t mask, uint8_t extraCode = 0) const;
};

// How one plugged interface answers reads: with its description's answers,
// with zeros until it has been sent a report often enough, and not at all for
// reports it does not have. Not thread-safe.
class VirtualResponder {
 public:
  explicit VirtualResponder(std::vector<VirtualAnswer> answers = {})
      : answers_(std::move(answers)) {}
  // At most maxLength bytes of the answer to a read of (kind, reportId), from
  // byte 0 (the report id first when it is not 0); nullopt when the interface
  // has no such report.
  std::optional<std::vector<uint8_t>> read(VirtualReportKind kind, uint8_t reportId,
                                           size_t maxLength) const;
  // The host has set or written a report with this id.
  void received(uint8_t reportId) { ++requests_[reportId]; }

 private:
  std::vector<VirtualAnswer> answers_;
  std::map<uint8_t, int> requests_;
};

// Every supported model, then one ordinary mouse of another maker.
const std::vector<VirtualMouse>& virtualMice();
// An ordinary three-button mouse of another maker with the boot-protocol
// report descriptor that the HID class definition gives as its example.
const VirtualMouse& bootMouse();
// The description of a model; aborts when there is none.
const VirtualMouse& virtualMouse(std::string_view model);

}  // namespace velt
