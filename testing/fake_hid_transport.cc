#include "testing/fake_hid_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace velt {

FakeHidTransport::~FakeHidTransport() {
  stop();
}

FakeHidTransport::DeviceId FakeHidTransport::add(HidDeviceInfo info,
                                                 std::vector<VirtualAnswer> answers, bool held) {
  DeviceId id;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    // Like the kernel, the lowest node number not in use.
    std::set<int> used;
    for (const auto& [other, d] : devices_) {
      if (!d.unplugged) used.insert(d.node);
    }
    int node = 0;
    while (used.contains(node)) ++node;
    info.name = "virtual-hidraw" + std::to_string(node);
    Device& d = devices_[id];
    d.node = node;
    d.info = std::move(info);
    d.responder = VirtualResponder(std::move(answers));
    d.held = held;
  }
  queue({Event::Attach, id});
  return id;
}

FakeHidTransport::DeviceId FakeHidTransport::plug(const VirtualMouse& mouse, size_t interfaceIndex,
                                                  int openError) {
  return plugInterface(mouse, interfaceIndex, openError, false);
}

FakeHidTransport::DeviceId FakeHidTransport::plugSilent(const VirtualMouse& mouse,
                                                        size_t interfaceIndex) {
  return plugInterface(mouse, interfaceIndex, 0, true);
}

FakeHidTransport::DeviceId FakeHidTransport::plugInterface(const VirtualMouse& mouse,
                                                           size_t interfaceIndex, int openError,
                                                           bool held) {
  const VirtualInterface& i = mouse.interfaces.at(interfaceIndex);
  return add(makeHidDeviceInfo({}, mouse.vendorId, mouse.productId, mouse.serialNumber,
                               i.reportDescriptor, openError),
             i.answers, held);
}

std::vector<FakeHidTransport::DeviceId> FakeHidTransport::plugAll(const VirtualMouse& mouse) {
  std::vector<DeviceId> ids;
  for (size_t i = 0; i < mouse.interfaces.size(); ++i) ids.push_back(plug(mouse, i));
  return ids;
}

FakeHidTransport::DeviceId FakeHidTransport::plugRaw(int32_t vendorId, int32_t productId,
                                                     std::vector<uint8_t> descriptor,
                                                     std::string serialNumber, int openError) {
  return add(
      makeHidDeviceInfo({}, vendorId, productId, std::move(serialNumber), descriptor, openError),
      {});
}

void FakeHidTransport::unplug(DeviceId id) {
  {
    std::lock_guard lock(mutex_);
    devices_.at(id).unplugged = true;
  }
  queue({Event::Remove, id});
}

void FakeHidTransport::sendInput(DeviceId id, std::vector<uint8_t> report) {
  queue({Event::Input, id, std::move(report)});
}

void FakeHidTransport::sync() {
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  queue({Event::Marker, 0, {}, done});
  finished.wait();
}

void FakeHidTransport::queue(Event event) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      if (event.marker) event.marker->set_value();
      return;
    }
    events_.push_back(std::move(event));
  }
  wake_.notify_all();
}

size_t FakeHidTransport::pendingEvents() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

void FakeHidTransport::vanishAfterCalls(DeviceId id, int calls) {
  std::lock_guard lock(mutex_);
  devices_.at(id).vanishAfter = calls;
}

void FakeHidTransport::failReads(DeviceId id, int error, bool writes) {
  std::lock_guard lock(mutex_);
  devices_.at(id).readError = error;
  devices_.at(id).writeError = writes ? error : 0;
}

void FakeHidTransport::holdRequests(DeviceId id) {
  std::lock_guard lock(mutex_);
  devices_.at(id).held = true;
}

void FakeHidTransport::releaseRequests() {
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, d] : devices_) d.held = false;
  }
  released_.notify_all();
}

int FakeHidTransport::heldRequests(DeviceId id) const {
  std::lock_guard lock(mutex_);
  return devices_.at(id).waiting;
}

std::optional<DeviceHandle> FakeHidTransport::handleOf(DeviceId id) const {
  std::lock_guard lock(mutex_);
  return devices_.at(id).handle;
}

bool FakeHidTransport::subscribed(DeviceId id) const {
  std::lock_guard lock(mutex_);
  return devices_.at(id).subscribed;
}

std::vector<FakeHidTransport::SentReport> FakeHidTransport::sentReports(DeviceId id) const {
  std::lock_guard lock(mutex_);
  return devices_.at(id).sent;
}

void FakeHidTransport::clearSentReports(DeviceId id) {
  std::lock_guard lock(mutex_);
  devices_.at(id).sent.clear();
}

int FakeHidTransport::transfers(DeviceId id) const {
  std::lock_guard lock(mutex_);
  return devices_.at(id).transfers;
}

bool FakeHidTransport::open(std::string& reason) {
  std::lock_guard lock(mutex_);
  if (openFailure_.empty()) return true;
  reason = openFailure_;
  return false;
}

void FakeHidTransport::run(HidListener& listener) {
  // The devices plugged before the first run are the ones present at start.
  HidListener::NextRun next;
  {
    std::lock_guard lock(mutex_);
    woken_ = true;  // for what was posted before
  }
  for (;;) {
    Event event;
    {
      std::unique_lock lock(mutex_);
      if (!listed_ && events_.empty()) {
        listed_ = true;
        lock.unlock();
        listener.onPresentDevicesListed();
        lock.lock();
      }
      if (stepped_ && events_.empty()) return;
      // Until an event, a wake-up, or the time the listener wants next.
      while (!stopping_ && events_.empty() && !woken_) {
        if (!next.clock) {
          wake_.wait(lock);
        } else if (next.clock->now() < next.due) {
          next.clock->waitUntil(wake_, lock, next.due);
        } else {
          break;
        }
      }
      if (stopping_) return;
      woken_ = false;
      if (!events_.empty()) {
        event = std::move(events_.front());
        events_.pop_front();
      }
    }
    handle(event, listener);
    next = listener.runPosted();
  }
}

void FakeHidTransport::wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void FakeHidTransport::handle(Event& event, HidListener& listener) {
  switch (event.kind) {
    case Event::Attach: {
      bool closed;
      {
        std::lock_guard lock(mutex_);
        closed = closed_;
      }
      if (!closed) attach(event.id, listener);
      break;
    }
    case Event::Remove: {
      std::optional<DeviceHandle> handle;
      {
        std::lock_guard lock(mutex_);
        Device& d = devices_.at(event.id);
        d.gone = true;
        handle = d.handle;
        if (handle) restore_.erase(*handle);
      }
      if (handle) listener.onDeviceRemoved(*handle);
      break;
    }
    case Event::Reopen: {
      std::vector<DeviceId> ids;
      bool wasClosed;
      {
        std::lock_guard lock(mutex_);
        wasClosed = event.id == 0 && std::exchange(closed_, false);
        if (event.id != 0) {
          if (!closed_) ids.push_back(event.id);
        } else {
          for (const auto& [id, d] : devices_) {
            if (!d.gone && (d.handle || wasClosed)) ids.push_back(id);
          }
        }
      }
      for (DeviceId id : ids) reopen(id, listener);
      break;
    }
    case Event::Close: {
      std::vector<DeviceHandle> handles;
      {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (auto& [id, d] : devices_) {
          if (!d.handle) continue;
          handles.push_back(*d.handle);
          byHandle_.erase(*d.handle);
          restore_.erase(*d.handle);
          d.handle.reset();
          d.subscribed = false;
        }
      }
      for (DeviceHandle handle : handles) listener.onDeviceRemoved(handle);
      break;
    }
    case Event::Input: {
      DeviceHandle handle;
      bool numbered;
      {
        std::lock_guard lock(mutex_);
        Device& d = devices_.at(event.id);
        if (d.gone || !d.subscribed || !d.handle) break;
        handle = *d.handle;
        numbered = d.info.properties.numberedReports;
      }
      const size_t length = std::min(event.report.size(), sizeof buffer_);
      std::memset(buffer_, 0, sizeof buffer_);
      std::memcpy(buffer_, event.report.data(), length);
      listener.onInputReport(handle, numbered ? buffer_[0] : 0, buffer_, length);
      break;
    }
    case Event::Marker:
      if (event.marker) event.marker->set_value();
      break;
  }
}

void FakeHidTransport::reopen(DeviceId id, HidListener& listener) {
  std::optional<DeviceHandle> old;
  {
    std::lock_guard lock(mutex_);
    Device& d = devices_.at(id);
    if (d.gone) return;
    old = d.handle;
    if (old) {
      byHandle_.erase(*old);
      restore_.erase(*old);
    }
    d.handle.reset();
    d.subscribed = false;
  }
  if (old) listener.onDeviceRemoved(*old);
  attach(id, listener);
}

void FakeHidTransport::attach(DeviceId id, HidListener& listener) {
  const DeviceHandle handle = listener.newDeviceHandle();
  HidDeviceInfo info;
  {
    std::lock_guard lock(mutex_);
    Device& d = devices_.at(id);
    if (d.gone) return;
    d.handle = handle;
    byHandle_[handle] = id;
    info = d.info;
  }
  listener.onDeviceMatched(handle, info);
}

void FakeHidTransport::reopenDevice(DeviceHandle device) {
  DeviceId id;
  {
    std::lock_guard lock(mutex_);
    ++reopenRequests_;
    auto it = byHandle_.find(device);
    if (it == byHandle_.end()) return;
    id = it->second;
  }
  queue(Event(Event::Reopen, id));
}

void FakeHidTransport::reopenAll() {
  {
    std::lock_guard lock(mutex_);
    ++reopenRequests_;
  }
  queue(Event(Event::Reopen, 0));
}

void FakeHidTransport::closeAll() {
  queue(Event(Event::Close, 0));
}

void FakeHidTransport::keepRestoreReports(DeviceHandle device,
                                          const std::vector<ConfigurationReport>& reports) {
  std::lock_guard lock(mutex_);
  if (reports.empty() || byHandle_.count(device) == 0) {
    restore_.erase(device);
  } else {
    restore_[device] = reports;
  }
}

std::vector<ConfigurationReport> FakeHidTransport::keptRestoreReports(DeviceId id) const {
  std::lock_guard lock(mutex_);
  const Device& d = devices_.at(id);
  if (!d.handle) return {};
  auto it = restore_.find(*d.handle);
  return it == restore_.end() ? std::vector<ConfigurationReport>{} : it->second;
}

bool FakeHidTransport::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

int FakeHidTransport::reopenRequests() const {
  std::lock_guard lock(mutex_);
  return reopenRequests_;
}

void FakeHidTransport::stop() {
  std::deque<Event> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(events_);
  }
  wake_.notify_all();
  for (auto& e : dropped) {
    if (e.marker) e.marker->set_value();
  }
}

void FakeHidTransport::subscribeInput(DeviceHandle device) {
  std::lock_guard lock(mutex_);
  auto it = byHandle_.find(device);
  if (it != byHandle_.end()) devices_.at(it->second).subscribed = true;
}

FakeHidTransport::Device* FakeHidTransport::transfer(DeviceHandle device, HidResult& result,
                                                     std::unique_lock<std::mutex>& lock) {
  auto it = byHandle_.find(device);
  if (it == byHandle_.end()) {
    result.error = ENODEV;
    return nullptr;
  }
  Device& d = devices_.at(it->second);
  if (d.gone) {
    result.error = ENODEV;
    return nullptr;
  }
  if (d.vanishAfter >= 0 && d.transfers >= d.vanishAfter) {
    d.gone = true;
    events_.push_back({Event::Remove, it->second});
    wake_.notify_all();
    result.error = ENODEV;
    return nullptr;
  }
  ++d.transfers;
  if (d.held) {
    ++d.waiting;
    released_.wait(lock, [&d] { return !d.held; });
    --d.waiting;
    result.error = ETIMEDOUT;
    return nullptr;
  }
  return &d;
}

HidResult FakeHidTransport::read(DeviceHandle device, VirtualReportKind kind, uint8_t reportId,
                                 std::span<uint8_t> buffer) {
  std::unique_lock lock(mutex_);
  HidResult result;
  Device* d = transfer(device, result, lock);
  if (!d) return result;
  if (d->readError != 0) return {d->readError, 0};
  auto answer = d->responder.read(kind, reportId, buffer.size());
  if (!answer) return {EPIPE, 0};
  std::copy(answer->begin(), answer->end(), buffer.begin());
  return {0, answer->size()};
}

HidResult FakeHidTransport::record(DeviceHandle device, VirtualReportKind kind, uint8_t reportId,
                                   std::span<const uint8_t> report) {
  std::unique_lock lock(mutex_);
  HidResult result;
  Device* d = transfer(device, result, lock);
  if (!d) return result;
  // Written, even when the mouse never takes it.
  d->sent.push_back({kind, reportId, {report.begin(), report.end()}});
  if (d->writeError != 0) return {d->writeError, 0};
  d->responder.received(reportId);
  return {0, report.size()};
}

HidResult FakeHidTransport::setFeatureReport(DeviceHandle device, uint8_t reportId,
                                             std::span<const uint8_t> report) {
  return record(device, VirtualReportKind::Feature, reportId, report);
}

HidResult FakeHidTransport::getFeatureReport(DeviceHandle device, uint8_t reportId,
                                             std::span<uint8_t> buffer) {
  return read(device, VirtualReportKind::Feature, reportId, buffer);
}

HidResult FakeHidTransport::getInputReport(DeviceHandle device, uint8_t reportId,
                                           std::span<uint8_t> buffer) {
  return read(device, VirtualReportKind::Input, reportId, buffer);
}

HidResult FakeHidTransport::writeOutputReport(DeviceHandle device, uint8_t reportId,
                                              std::span<const uint8_t> report) {
  return record(device, VirtualReportKind::Output, reportId, report);
}

}  // namespace velt
