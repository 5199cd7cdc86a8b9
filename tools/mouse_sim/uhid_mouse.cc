#include "tools/mouse_sim/uhid_mouse.h"

#include <cstdio>

namespace velt {

struct UhidMouse::Interface {
  VirtualResponder responder;
  std::vector<ReceivedReport> received;
  std::unique_ptr<UhidDevice> device;
};

namespace {

VirtualReportKind kindOf(HidReportType type) {
  switch (type) {
    case HidReportType::feature:
      return VirtualReportKind::Feature;
    case HidReportType::output:
      return VirtualReportKind::Output;
    case HidReportType::input:
      break;
  }
  return VirtualReportKind::Input;
}

const char* kindName(VirtualReportKind kind) {
  switch (kind) {
    case VirtualReportKind::Feature:
      return "feature set";
    case VirtualReportKind::Output:
      return "output write";
    case VirtualReportKind::Input:
      break;
  }
  return "input";
}

}  // namespace

std::string describe(const ReceivedReport& report) {
  std::string text = kindName(report.kind);
  char byte[4];
  for (uint8_t b : report.bytes) {
    std::snprintf(byte, sizeof byte, " %02X", b);
    text += byte;
  }
  return text;
}

UhidMouse::UhidMouse(const VirtualMouse& mouse, std::string tag, ReportObserver observer)
    : mouse_(mouse), tag_(std::move(tag)), observer_(std::move(observer)) {}

std::unique_ptr<UhidMouse> UhidMouse::plug(const VirtualMouse& mouse, const std::string& tag,
                                           ReportObserver observer, std::string* error) {
  return create(mouse, tag, std::move(observer), false, error);
}

std::unique_ptr<UhidMouse> UhidMouse::plugSilent(const VirtualMouse& mouse, const std::string& tag,
                                                 std::string* error) {
  return create(mouse, tag, nullptr, true, error);
}

void UhidMouse::setSilent(bool silent) {
  std::lock_guard lock(mutex_);
  silent_ = silent;
}

int UhidMouse::unanswered() const {
  std::lock_guard lock(mutex_);
  return unanswered_;
}

std::unique_ptr<UhidMouse> UhidMouse::create(const VirtualMouse& mouse, const std::string& tag,
                                             ReportObserver observer, bool silent,
                                             std::string* error) {
  std::unique_ptr<UhidMouse> self(new UhidMouse(mouse, tag, std::move(observer)));
  self->silent_ = silent;
  for (size_t i = 0; i < mouse.interfaces.size(); ++i) {
    auto slot = std::make_unique<Interface>();
    slot->responder = VirtualResponder(mouse.interfaces[i].answers);
    self->interfaces_.push_back(std::move(slot));
  }
  for (size_t i = 0; i < mouse.interfaces.size(); ++i) {
    UhidDeviceSetup setup;
    setup.name = "Virtual " + mouse.model;
    setup.phys = self->phys(i);
    setup.uniq = mouse.serialNumber;
    setup.vendor = static_cast<uint32_t>(mouse.vendorId);
    setup.product = static_cast<uint32_t>(mouse.productId);
    setup.descriptor = mouse.interfaces[i].reportDescriptor;
    UhidMouse* raw = self.get();
    UhidHandlers handlers;
    handlers.getReport = [raw, i](uint8_t reportNumber, HidReportType type) {
      std::lock_guard lock(raw->mutex_);
      auto answer = raw->interfaces_[i]->responder.read(kindOf(type), reportNumber, SIZE_MAX);
      // The host's buffer starts with the report number, 0 when unnumbered.
      if (answer && reportNumber == 0) answer->insert(answer->begin(), 0);
      return answer;
    };
    handlers.setReport = [raw, i](uint8_t, HidReportType type, std::span<const uint8_t> data) {
      raw->receive(i, type, data);
      return true;
    };
    handlers.output = [raw, i](HidReportType type, std::span<const uint8_t> data) {
      raw->receive(i, type, data);
    };
    handlers.silent = [raw] {
      std::lock_guard lock(raw->mutex_);
      if (!raw->silent_) return false;
      ++raw->unanswered_;
      return true;
    };
    std::string reason;
    self->interfaces_[i]->device = UhidDevice::create(setup, std::move(handlers), &reason);
    if (!self->interfaces_[i]->device) {
      if (error) *error = mouse.model + " " + mouse.interfaces[i].label + ": " + reason;
      return nullptr;
    }
  }
  return self;
}

UhidMouse::~UhidMouse() {
  // Each device's reader thread ends before the state it uses goes.
  for (auto& slot : interfaces_) slot->device.reset();
}

void UhidMouse::receive(size_t interfaceIndex, HidReportType type, std::span<const uint8_t> data) {
  if (data.empty()) return;
  // The host's buffer starts with the report number; an unnumbered report
  // (number 0) begins after it.
  const uint8_t reportId = data[0];
  ReceivedReport report{kindOf(type), reportId,
                        reportId == 0 ? std::vector<uint8_t>(data.begin() + 1, data.end())
                                      : std::vector<uint8_t>(data.begin(), data.end())};
  {
    std::lock_guard lock(mutex_);
    Interface& slot = *interfaces_[interfaceIndex];
    slot.responder.received(reportId);
    slot.received.push_back(report);
  }
  changed_.notify_all();
  if (observer_) observer_(interfaceIndex, report);
}

bool UhidMouse::sendInput(size_t interfaceIndex, std::span<const uint8_t> report) {
  if (interfaceIndex >= interfaces_.size()) return false;
  return interfaces_[interfaceIndex]->device->sendInput(report);
}

bool UhidMouse::sendButtons(uint8_t mask, uint8_t extraCode) {
  const auto report = mouse_.buttonReport(mask, extraCode);
  return sendInput(mouse_.buttonInterface(), report);
}

std::vector<ReceivedReport> UhidMouse::received(size_t interfaceIndex) const {
  std::lock_guard lock(mutex_);
  return interfaces_.at(interfaceIndex)->received;
}

void UhidMouse::clearReceived() {
  std::lock_guard lock(mutex_);
  for (auto& slot : interfaces_) slot->received.clear();
}

bool UhidMouse::waitForReceived(size_t interfaceIndex, size_t count,
                                std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(
      lock, timeout, [&] { return interfaces_.at(interfaceIndex)->received.size() >= count; });
}

std::string UhidMouse::phys(size_t interfaceIndex) const {
  return "velt-mouse-sim/" + tag_ + "/input" + std::to_string(interfaceIndex);
}

std::optional<HidNodes> UhidMouse::nodes(size_t interfaceIndex, size_t eventCount,
                                         std::chrono::milliseconds timeout) const {
  return waitForHidNodes("HID_PHYS", phys(interfaceIndex), eventCount, timeout);
}

}  // namespace velt
