// The HID system on Linux: hidraw nodes found and watched with libudev, all
// served by one poll loop on the listener thread, which also wakes for the
// listener's posted work (an eventfd) and its next due time (a timerfd on
// the monotonic clock). Works without udevd, on the kernel's own device
// events.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_transport.h"
#include "platform/system/udev_handles.h"
#include "platform/system/unique_fd.h"

namespace velt {

class CrashRestore;

class HidrawTransport : public HidTransport {
 public:
  // crashRestore: where the restore reports are kept; may be null.
  explicit HidrawTransport(CrashRestore* crashRestore = nullptr);
  ~HidrawTransport() override;
  HidrawTransport(const HidrawTransport&) = delete;
  HidrawTransport& operator=(const HidrawTransport&) = delete;

  bool open(std::string& reason) override;
  void run(HidListener& listener) override;
  void stop() override;
  void wake() override;
  void subscribeInput(DeviceHandle device) override;
  void reopenDevice(DeviceHandle device) override;
  void reopenAll() override;
  void closeAll() override;
  void keepRestoreReports(DeviceHandle device,
                          const std::vector<ConfigurationReport>& reports) override;
  HidResult setFeatureReport(DeviceHandle device, uint8_t reportId,
                             std::span<const uint8_t> report) override;
  HidResult getFeatureReport(DeviceHandle device, uint8_t reportId,
                             std::span<uint8_t> buffer) override;
  HidResult getInputReport(DeviceHandle device, uint8_t reportId,
                           std::span<uint8_t> buffer) override;
  HidResult writeOutputReport(DeviceHandle device, uint8_t reportId,
                              std::span<const uint8_t> report) override;

  struct Node;

 private:
  std::shared_ptr<Node> find(DeviceHandle device);
  void addPresentDevices(HidListener& listener);
  void addDevice(udev_device* device, HidListener& listener);
  // Carries out reopenDevice and reopenAll; listener thread.
  void reopenRequested(HidListener& listener);
  void removeDevice(const std::string& syspath, HidListener& listener);
  void receiveMonitorEvent(HidListener& listener);
  void readInput(Node& node, HidListener& listener);
  // Runs the listener's posted work, then sets the timer for what it wants
  // next; listener thread.
  void runPosted(HidListener& listener);
  enum class Transfer { SetFeature, GetFeature, GetInput, WriteOutput };
  // report: the bytes to send (set, write); answer: where a read's bytes go.
  HidResult transfer(DeviceHandle device, Transfer kind, uint8_t reportId, const uint8_t* report,
                     uint8_t* answer, size_t length);

  CrashRestore* crashRestore_;
  UdevPtr udev_;
  UdevMonitorPtr monitor_;
  UniqueFd wakeFd_;
  UniqueFd timerFd_;
  std::optional<Clock::TimePoint> timerDue_;  // listener thread only
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;
  std::map<DeviceHandle, std::shared_ptr<Node>> nodes_;  // guarded by mutex_
  bool pollSetChanged_ = true;                           // guarded by mutex_
  std::vector<DeviceHandle> reopen_;                     // guarded by mutex_
  bool reopenAll_ = false;                               // guarded by mutex_
  bool closeAll_ = false;                                // guarded by mutex_
  bool closed_ = false;                                  // listener thread only
};

}  // namespace velt
