// The device layer's view of the HID system: devices arriving and leaving,
// their properties, report traffic, and their input reports. The platform
// implements it over hidraw and libudev; tests and benchmarks use a fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/clock.h"
#include "device/device_identity.h"
#include "device/report_descriptor.h"

namespace velt {

// What the device layer reads about one HID device when it appears: its ids
// and serial number, and what its report descriptor says.
struct HidProperties : ReportDescriptorSummary {
  int32_t vendorId = 0;
  int32_t productId = 0;
  std::string serialNumber;  // empty when the device has none
};

struct HidDeviceInfo {
  std::string name;  // the device node, for log lines
  HidProperties properties;
  // Non-empty when the properties could not be worked out; the device is
  // then skipped.
  std::string problem;
  // 0, or the errno of opening the node for reading and writing. The
  // properties may still be known (they come from sysfs then), but no report
  // can be exchanged.
  int openError = 0;
};

// Fills the properties from the ids, the serial number and the report
// descriptor; a descriptor that does not parse sets problem.
HidDeviceInfo makeHidDeviceInfo(std::string name, int32_t vendorId, int32_t productId,
                                std::string serialNumber, std::span<const uint8_t> descriptor,
                                int openError);

// The outcome of one report transfer.
struct HidResult {
  int error = 0;      // 0 or an errno value; ENODEV: the device has gone
  size_t length = 0;  // bytes transferred
  bool ok() const { return error == 0; }
};

// The size of the buffer every input report is read into.
inline constexpr size_t kInputReportBufferSize = 65;

// One feature report to set, after a pause.
struct ConfigurationReport {
  Clock::Duration pauseBefore{0};
  uint8_t reportId = 0;
  std::vector<uint8_t> bytes;  // from byte 0; the report id first when not 0
};

// Called by the transport on its listener thread, one call at a time.
class HidListener {
 public:
  // When the listener wants to run next, on which time line.
  struct NextRun {
    Clock* clock = nullptr;  // null: not before it is woken
    Clock::TimePoint due{};
  };

  virtual ~HidListener() = default;
  // After each batch of events, and whenever the transport is woken: runs
  // the work handed to the listener thread and what has fallen due.
  virtual NextRun runPosted() { return {}; }
  // A fresh handle for a device that has just appeared.
  virtual DeviceHandle newDeviceHandle() = 0;
  // The devices present at start come first, then each new one.
  virtual void onDeviceMatched(DeviceHandle device, const HidDeviceInfo& info) = 0;
  // Every device present at start has been reported.
  virtual void onPresentDevicesListed() {}
  // Asked before onDeviceMatched, from the properties alone: whether the
  // device's reports will be wanted. Only then is its node opened (and
  // info.openError known): the nodes of keyboards and other devices are
  // never opened.
  virtual bool wantsReports(const HidDeviceInfo& info) {
    (void)info;
    return true;
  }
  virtual void onDeviceRemoved(DeviceHandle device) = 0;
  // report points to the device's 65-byte buffer; the bytes past length are
  // zero. reportId is byte 0 when the device numbers its reports, else 0.
  virtual void onInputReport(DeviceHandle device, uint8_t reportId, const uint8_t* report,
                             size_t length) = 0;
};

// Report buffers follow one convention throughout: byte 0 is the first byte
// of the report as the device layer sees it, which is the report id when
// reportId is not 0. For report id 0 the device's report starts at byte 0.
class HidTransport {
 public:
  virtual ~HidTransport() = default;

  // Listener thread, once: prepares enumeration and hot-plug monitoring.
  // False with reason when that is impossible.
  virtual bool open(std::string& reason) = 0;
  // Listener thread: reports the devices present, then every change and every
  // subscribed input report, calling the listener's runPosted after each
  // batch and when woken or due, until stop() is called.
  virtual void run(HidListener& listener) = 0;
  // Any thread: makes run() return soon, or at once when it has not started.
  virtual void stop() = 0;
  // Any thread: run() calls the listener's runPosted soon. The real
  // transport waits for a due time on the steady clock whatever the clock
  // named; a fake one waits on that clock.
  virtual void wake() = 0;

  // Any thread: starts delivering the device's input reports.
  virtual void subscribeInput(DeviceHandle device) = 0;
  // Any thread; returns at once. On the listener thread soon after, the
  // device is reported removed, its node is closed, and if it is still there
  // it is opened and reported as a new device, as if it had been plugged in
  // again.
  virtual void reopenDevice(DeviceHandle device) = 0;
  // The same for every device present, including those whose node could not
  // be opened before; after closeAll(), the devices are reported again.
  virtual void reopenAll() = 0;
  // Any thread; returns at once. On the listener thread soon after, every
  // device is reported removed and its node closed, and none is reported
  // again, hot-plugged ones included, until reopenAll().
  virtual void closeAll() = 0;

  // Any thread: the reports that give the device's buttons back, kept ready
  // to go out from a fatal signal's handler should the process die; they
  // replace what was kept for the device before, an empty list forgets it,
  // and the device's removal forgets it too.
  virtual void keepRestoreReports(DeviceHandle device,
                                  const std::vector<ConfigurationReport>& reports) = 0;

  // Any thread. A removed or unknown device gives ENODEV.
  virtual HidResult setFeatureReport(DeviceHandle device, uint8_t reportId,
                                     std::span<const uint8_t> report) = 0;
  virtual HidResult getFeatureReport(DeviceHandle device, uint8_t reportId,
                                     std::span<uint8_t> buffer) = 0;
  virtual HidResult getInputReport(DeviceHandle device, uint8_t reportId,
                                   std::span<uint8_t> buffer) = 0;
  virtual HidResult writeOutputReport(DeviceHandle device, uint8_t reportId,
                                      std::span<const uint8_t> report) = 0;
};

}  // namespace velt
