// A virtual mouse plugged in through /dev/uhid: one kernel HID device per
// interface of its description. It answers the host's reads as the
// description says and records every report the host sets or writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/uhid/uhid_device.h"
#include "tools/uhid/uhid_nodes.h"
#include "tools/virtual_mouse/virtual_mice.h"

namespace velt {

// A report the host sent to the mouse, as the device layer sends it: byte 0
// is the report id when it is not 0, otherwise the report's first byte.
struct ReceivedReport {
  VirtualReportKind kind;  // Feature: a feature set; Output: a write
  uint8_t reportId;
  std::vector<uint8_t> bytes;
  bool operator==(const ReceivedReport&) const = default;
};

// "feature set 05 00 00 11 11 1C ..." for one received report.
std::string describe(const ReceivedReport& report);

class UhidMouse {
 public:
  // Runs on a device's reader thread for every report received.
  using ReportObserver = std::function<void(size_t interfaceIndex, const ReceivedReport&)>;

  // Plugs every interface of mouse. tag tells this mouse's devices apart
  // from other plugged ones (it goes into their phys). On failure returns
  // nullptr with the reason in *error.
  static std::unique_ptr<UhidMouse> plug(const VirtualMouse& mouse, const std::string& tag,
                                         ReportObserver observer, std::string* error);
  // The same mouse, but it never answers a get or set report request.
  static std::unique_ptr<UhidMouse> plugSilent(const VirtualMouse& mouse, const std::string& tag,
                                               std::string* error);
  // Unplugs every interface.
  ~UhidMouse();
  UhidMouse(const UhidMouse&) = delete;
  UhidMouse& operator=(const UhidMouse&) = delete;

  const VirtualMouse& description() const { return mouse_; }

  // Sends an input report on one interface (report id first when it numbers
  // its reports). False when the kernel refused it.
  bool sendInput(size_t interfaceIndex, std::span<const uint8_t> report);
  // The button report for mask and extraCode on the button interface.
  bool sendButtons(uint8_t mask, uint8_t extraCode = 0);

  // What one interface has received so far, oldest first.
  std::vector<ReceivedReport> received(size_t interfaceIndex) const;
  void clearReceived();
  // Waits until the interface has received at least count reports.
  bool waitForReceived(size_t interfaceIndex, size_t count,
                       std::chrono::milliseconds timeout) const;

  // Makes the mouse stop answering get and set report requests, as a
  // receiver does that lost its link, or answer again.
  void setSilent(bool silent);
  // How many requests a silent mouse has left unanswered.
  int unanswered() const;

  // The phys of one interface's device ("velt-mouse-sim/<tag>/input<i>").
  std::string phys(size_t interfaceIndex) const;
  // The nodes the kernel made for one interface, once its hidraw node and
  // at least eventCount event nodes exist.
  std::optional<HidNodes> nodes(size_t interfaceIndex, size_t eventCount,
                                std::chrono::milliseconds timeout) const;

 private:
  struct Interface;
  UhidMouse(const VirtualMouse& mouse, std::string tag, ReportObserver observer);
  static std::unique_ptr<UhidMouse> create(const VirtualMouse& mouse, const std::string& tag,
                                           ReportObserver observer, bool silent,
                                           std::string* error);
  void receive(size_t interfaceIndex, HidReportType type, std::span<const uint8_t> data);

  VirtualMouse mouse_;
  std::string tag_;
  ReportObserver observer_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<Interface>> interfaces_;
  bool silent_ = false;  // guarded by mutex_
  int unanswered_ = 0;   // guarded by mutex_
};

}  // namespace velt
