// An in-process HID system of virtual mice: it answers the handshakes as the
// descriptions say, records every report the agent sends, and lets its owner
// send input reports, unplug devices and inject faults. Events reach the
// listener in order on the thread that runs run(), as with the real one.
#pragma once

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "device/hid_transport.h"
#include "tools/virtual_mouse/virtual_mice.h"

namespace velt {

class FakeHidTransport : public HidTransport {
 public:
  using DeviceId = int;  // the owner's name for a plugged interface

  struct SentReport {
    VirtualReportKind kind;  // Feature for a feature set, Output for a write
    uint8_t reportId;
    std::vector<uint8_t> bytes;
    bool operator==(const SentReport&) const = default;
  };

  FakeHidTransport() = default;
  ~FakeHidTransport() override;

  // Plugs one interface of a mouse; openError makes the node unopenable.
  DeviceId plug(const VirtualMouse& mouse, size_t interfaceIndex, int openError = 0);
  // Plugs one interface of a mouse that never answers (see holdRequests).
  DeviceId plugSilent(const VirtualMouse& mouse, size_t interfaceIndex);
  // Plugs every interface of a mouse, in order.
  std::vector<DeviceId> plugAll(const VirtualMouse& mouse);
  // Plugs a device given by its raw properties.
  DeviceId plugRaw(int32_t vendorId, int32_t productId, std::vector<uint8_t> descriptor,
                   std::string serialNumber = {}, int openError = 0);
  void unplug(DeviceId id);
  // The device sends an input report (report id first when it numbers them).
  // Dropped unless the agent has subscribed to the device's input.
  void sendInput(DeviceId id, std::vector<uint8_t> report);
  // Waits until the listener has handled every event queued before the call.
  void sync();
  // Stepped: run() handles the events queued and returns, for a test that
  // drives the listener from its own thread (sync() would wait for ever).
  void setStepped(bool stepped) { stepped_ = stepped; }
  size_t pendingEvents() const;

  // Faults. After `calls` report transfers every further one fails with
  // ENODEV and the device is unplugged.
  void vanishAfterCalls(DeviceId id, int calls);
  // Every report read, and with writes every report written too, fails with
  // error (ETIMEDOUT: a mouse that never answers); 0 restores the answers.
  void failReads(DeviceId id, int error, bool writes = false);
  // A mouse that never answers, as the kernel sees one: every report
  // transfer waits until releaseRequests(), then fails with ETIMEDOUT.
  void holdRequests(DeviceId id);
  void releaseRequests();
  // How many times the agent asked for devices to be reopened.
  int reopenRequests() const;
  // How many transfers wait for the device right now.
  int heldRequests(DeviceId id) const;

  // What the agent did.
  std::optional<DeviceHandle> handleOf(DeviceId id) const;
  bool subscribed(DeviceId id) const;
  std::vector<SentReport> sentReports(DeviceId id) const;
  void clearSentReports(DeviceId id);
  int transfers(DeviceId id) const;
  // The restore reports the agent keeps for the device now.
  std::vector<ConfigurationReport> keptRestoreReports(DeviceId id) const;
  // Between closeAll() and reopenAll().
  bool closed() const;

  // HidTransport
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

  // open() fails with this reason when set.
  void failOpen(std::string reason) { openFailure_ = std::move(reason); }

 private:
  struct Device {
    HidDeviceInfo info;
    VirtualResponder responder;
    std::optional<DeviceHandle> handle;
    int node = 0;            // virtual-hidrawN
    bool unplugged = false;  // its node number is free again
    bool gone = false;
    bool subscribed = false;
    std::vector<SentReport> sent;
    int transfers = 0;
    int vanishAfter = -1;
    int readError = 0;
    int writeError = 0;
    bool held = false;
    int waiting = 0;
  };
  struct Event {
    enum Kind { Attach, Remove, Reopen, Close, Input, Marker };
    Event() = default;
    Event(Kind k, DeviceId i, std::vector<uint8_t> r = {},
          std::shared_ptr<std::promise<void>> m = nullptr)
        : kind(k), id(i), report(std::move(r)), marker(std::move(m)) {}
    Kind kind = Marker;
    DeviceId id = 0;
    std::vector<uint8_t> report;
    std::shared_ptr<std::promise<void>> marker;
  };

  DeviceId plugInterface(const VirtualMouse& mouse, size_t interfaceIndex, int openError,
                         bool held);
  DeviceId add(HidDeviceInfo info, std::vector<VirtualAnswer> answers, bool held = false);
  void queue(Event event);
  // One event on the listener thread; a Marker without a promise is none.
  void handle(Event& event, HidListener& listener);
  // Reports the device removed, then found again under a new handle.
  void reopen(DeviceId id, HidListener& listener);
  // Reports the device found under a new handle, unless it has gone.
  void attach(DeviceId id, HidListener& listener);
  // The device behind a handle for one transfer; null (with error set) when
  // it has gone or does not answer. Called with lock, which it may release
  // while the device is held.
  Device* transfer(DeviceHandle device, HidResult& result, std::unique_lock<std::mutex>& lock);
  HidResult read(DeviceHandle device, VirtualReportKind kind, uint8_t reportId,
                 std::span<uint8_t> buffer);
  HidResult record(DeviceHandle device, VirtualReportKind kind, uint8_t reportId,
                   std::span<const uint8_t> report);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable released_;
  std::deque<Event> events_;
  bool stopping_ = false;
  bool woken_ = false;  // wake() since the listener last ran its work
  std::map<DeviceId, Device> devices_;
  std::map<DeviceHandle, DeviceId> byHandle_;
  DeviceId nextId_ = 1;
  int reopenRequests_ = 0;
  bool closed_ = false;
  std::map<DeviceHandle, std::vector<ConfigurationReport>> restore_;
  std::string openFailure_;
  bool stepped_ = false;
  bool listed_ = false;                          // the thread that runs run()
  uint8_t buffer_[kInputReportBufferSize] = {};  // listener thread only
};

}  // namespace velt
