#include "device/device_layer.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <future>

#include "core/log.h"
#include "device/vendor_protocol.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kTicksAfterRegistration = 3;
constexpr int32_t kTicksAfterRemoval = 3;
constexpr int32_t kTicksAfterSelection = 1;
constexpr int32_t kMillisecondsPerTick = 200;
constexpr Clock::Duration kQuitPause = 1s;

bool accessDenied(int error) {
  return error == EACCES || error == EPERM;
}

}  // namespace

DeviceLayer::DeviceLayer(const DeviceLayerServices& services)
    : services_(services),
      settings_(services.settings),
      dispatcher_(services.settings, extraButtonEnabled_, services.runner),
      deviceChangeCountdown_(services.clock, [this] { raiseDeviceChange(); }),
      configCountdown_(services.clock, [this] { raiseConfigRequest(); }) {}

DeviceLayer::~DeviceLayer() {
  stop();
}

bool DeviceLayer::initDeviceLayer() {
  if (initialised_.exchange(true)) {
    logLine("skip initial lib...");
    return false;
  }
  if (!services_.eventTaps.createEventTaps()) return false;
  logLine("initial lib...");
  {
    std::lock_guard lock(identMutex_);
    ident_ = std::make_unique<SerialQueue>("quorinAgentUSBIdent");
  }
  listener_ = std::thread([this] { runListener(); });
  deviceChangeCountdown_.start("notify device change");
  configThread_ = std::thread([this] { runConfigurationThread(); });
  configCountdown_.start("notify device state change");
  return true;
}

void DeviceLayer::stop() {
  stopping_.store(true);
  { std::lock_guard lock(deviceChangeMutex_); }
  deviceChangeSignal_.notify_all();
  { std::lock_guard lock(configMutex_); }
  configSignal_.notify_all();

  hidManager_.store(false);
  if (listener_.joinable()) {
    services_.transport.stop();
    listener_.join();
  }
  deviceChangeCountdown_.stop();
  configCountdown_.stop();
  if (configThread_.joinable()) configThread_.join();
  std::unique_ptr<SerialQueue> ident;
  {
    std::lock_guard lock(identMutex_);
    ident = std::move(ident_);
  }
  ident.reset();  // runs the tasks already queued, then joins
}

// --- Listener thread -------------------------------------------------------

void DeviceLayer::runListener() {
  nameCurrentThread("quorinAgentUSBListen");
  std::string reason;
  if (!services_.transport.open(reason)) {
    logFormat("HID listener cannot start: %s", reason.c_str());
    logLine("register usb error");
    if (fatalError_) fatalError_();
    return;
  }
  hidManager_.store(!stopping_.load());
  services_.transport.run(*this);
}

void DeviceLayer::onDeviceMatched(DeviceHandle device, const HidDeviceInfo& info) {
  if (!info.problem.empty()) {
    logFormat("%s skipped: %s", describeHidDevice(info).c_str(), info.problem.c_str());
    return;
  }
  const HidProperties& p = info.properties;
  const DeviceKind kind = classifyDevice(p);
  logDebug("%s: usage %04X:%04X, reports in %d out %d feature %d, last id %d, kind %d",
           describeHidDevice(info).c_str(), static_cast<unsigned>(p.primaryUsagePage),
           static_cast<unsigned>(p.primaryUsage), p.maxInputReportSize, p.maxOutputReportSize,
           p.maxFeatureReportSize, p.lastReportId, static_cast<int>(kind));
  if (kind == DeviceKind::Ignored) return;
  if (kind == DeviceKind::OtherMouse) {
    // Needs no report traffic, so no access to the node either.
    DeviceIdentity identity{device, kDeviceOtherMouse, 0, p.vendorId, p.productId, true};
    postIdentification([this, identity] { submitIdentification(identity); });
    return;
  }
  if (info.openError != 0) {
    if (accessDenied(info.openError)) {
      logFormat(
          "cannot open %s: %s. Give your user read and write access to the mouse's hidraw "
          "nodes with the udev rule described in the README (\"Access to the mice\"), then "
          "plug the mouse in again",
          describeHidDevice(info).c_str(), std::strerror(info.openError));
    } else {
      logFormat("cannot open %s: %s; skipped", describeHidDevice(info).c_str(),
                std::strerror(info.openError));
    }
    return;
  }
  HandshakeContext context{services_.transport, services_.clock, probeLock_};
  identifyDevice(kind, device, info, context,
                 [this](const DeviceIdentity& identity) { submitIdentification(identity); });
}

void DeviceLayer::onDeviceRemoved(DeviceHandle device) {
  bool wasPresent;
  HeldButtons held;
  {
    std::lock_guard lock(registryLock_);
    if (const RegisteredDevice* d = registry_.find(device)) held = d->held;
    wasPresent = registry_.markRemoved(device);
  }
  // A mouse that goes with buttons down never sends their release. While
  // another mouse keeps the agent active nothing else would release them,
  // and a held shortcut or pointer mode would stay on.
  if (held.mask != 0) postButtonMask(0);
  if (held.extraButton0) postExtraButtonCode(0, static_cast<uint8_t>(ExtraButtonCodes[0].release));
  deviceChangeCountdown_.arm(kTicksAfterRemoval);
  if (wasPresent) {
    logFormat("device %" PRId64 " removed", device);
    postIdentification([this] { notifyRegistryObserver(); });
  }
}

void DeviceLayer::onInputReport(DeviceHandle device, uint8_t reportId, const uint8_t* report,
                                size_t length) {
  if (debugLogging()) {
    char label[48];
    std::snprintf(label, sizeof label, "input %u device %" PRId64, reportId, device);
    logHexDump(label, report, length);
  }
  DecodedReport decoded;
  std::string fault;
  {
    std::lock_guard lock(registryLock_);
    RegisteredDevice* d = registry_.find(device);
    if (!d) return;
    decoded = decodeInputReport(d->type, d->attributes.swap45 != 0, reportId, report, length);
    d->held.note(decoded);
    if (decoded.status == DecodedReport::TooShort && !d->shortReportLogged) {
      d->shortReportLogged = true;
      char text[160];
      std::snprintf(text, sizeof text,
                    "device %" PRId64 " (%s): input report of %zu bytes, %zu expected; ignored",
                    device, d->attributes.name.c_str(), length, decoded.needed);
      fault = text;
    }
  }
  if (!fault.empty()) logLine(fault);
  if (decoded.status != DecodedReport::Buttons) return;
  if (decoded.hasMask) postButtonMask(decoded.mask);
  if (decoded.extraCode != 0) {
    postExtraButtonCode(decoded.extraCode, 0);
    postExtraButtonCode(0, decoded.extraCode);
  }
}

// --- Identification queue ---------------------------------------------------

bool DeviceLayer::postIdentification(std::function<void()> task) {
  std::lock_guard lock(identMutex_);
  if (!ident_) return false;
  ident_->post(std::move(task));
  return true;
}

void DeviceLayer::submitIdentification(const DeviceIdentity& identity) {
  postIdentification([this, identity] { registerIdentifiedDevice(identity); });
}

void DeviceLayer::registerIdentifiedDevice(const DeviceIdentity& identity) {
  const ModelDefinition* model = matchModel(services_.catalogue, identity, extraButtonEnabled_);
  if (model) {
    bool registered;
    {
      std::lock_guard lock(registryLock_);
      registered = registry_.registerDevice(identity, *model);
    }
    if (registered) {
      if (!identity.noInput) services_.transport.subscribeInput(identity.handle);
      logFormat("device %" PRId64 ": %s (type %d, model %d)", identity.handle, model->name.c_str(),
                identity.type, identity.modelId);
      notifyRegistryObserver();
    }
  } else {
    logDebug("device %" PRId64 ": no model for type %d, model %d, %04X:%04X", identity.handle,
             identity.type, identity.modelId, static_cast<unsigned>(identity.vendorId),
             static_cast<unsigned>(identity.productId));
  }
  deviceChangeCountdown_.arm(kTicksAfterRegistration);
  configCountdown_.arm(kTicksAfterRegistration);
}

void DeviceLayer::notifyRegistryObserver() {
  if (!observer_) return;
  std::vector<UsbId> ids;
  {
    std::lock_guard lock(registryLock_);
    ids = registry_.registeredUsbIds();
  }
  observer_->registeredDevicesChanged(ids);
}

void DeviceLayer::postButtonMask(uint8_t mask) {
  if (!deviceActive_.load()) return;
  postIdentification([this, mask] { dispatcher_.consumeButtonMask(mask); });
}

void DeviceLayer::waitForIdentificationQueue() {
  std::promise<void> done;
  auto finished = done.get_future();
  if (!postIdentification([&done] { done.set_value(); })) return;
  finished.wait();
}

// --- Countdowns and configuration ------------------------------------------

void DeviceLayer::raiseDeviceChange() {
  {
    std::lock_guard lock(deviceChangeMutex_);
    ++deviceChanges_;
  }
  deviceChangeSignal_.notify_all();
}

void DeviceLayer::raiseConfigRequest() {
  {
    std::lock_guard lock(configMutex_);
    ++configRequests_;
  }
  configSignal_.notify_all();
}

void DeviceLayer::scheduleDeviceChangeNotice(int32_t milliseconds) {
  deviceChangeCountdown_.arm(milliseconds / kMillisecondsPerTick + 1);
}

void DeviceLayer::runConfigurationThread() {
  nameCurrentThread("notify device tstate change");
  for (;;) {
    {
      std::unique_lock lock(configMutex_);
      configSignal_.wait(
          lock, [this] { return stopping_.load() || configRequests_ != configRequestsSeen_; });
      if (stopping_.load()) return;
      configRequestsSeen_ = configRequests_;
      passRunning_ = true;
    }
    sendConfiguration();
    std::lock_guard lock(configMutex_);
    passRunning_ = false;
  }
}

bool DeviceLayer::settled() {
  if (deviceChangeCountdown_.remaining() > 0 || configCountdown_.remaining() > 0) return false;
  std::lock_guard lock(configMutex_);
  return !passRunning_ && configRequests_ == configRequestsSeen_;
}

void DeviceLayer::sendConfiguration() {
  std::lock_guard lock(registryLock_);
  sendConfigurationLocked();
}

void DeviceLayer::sendConfigurationLocked() {
  // The masks are read under the lock, and once the quit pass has gone out
  // no other pass follows it: the mice must be left handling their buttons
  // themselves, not handing them to an agent that has gone.
  if (quitPassSent_) return;
  const uint8_t intercept = settings_.interceptMask.load(std::memory_order_relaxed);
  const uint8_t h = settings_.hidButtonMask.load(std::memory_order_relaxed);
  for (const auto& [handle, d] : registry_.devices()) {
    if (d.type == 0 || !isConfigurable(d.type, d.attributes.id)) continue;
    const uint8_t m =
        configurationMask(d.type, d.attributes.buttonMask, intercept, d.attributes.swap45);
    int failure = 0;
    for (const auto& report : configurationReports(d.type, m, h, reportSequence_)) {
      if (report.pauseBefore > Clock::Duration::zero())
        services_.clock.sleepFor(report.pauseBefore);
      if (debugLogging()) {
        char label[48];
        std::snprintf(label, sizeof label, "set feature %u device %" PRId64, report.reportId,
                      handle);
        logHexDump(label, report.bytes.data(), report.bytes.size());
      }
      HidResult r = services_.transport.setFeatureReport(handle, report.reportId, report.bytes);
      if (!r.ok() && failure == 0) failure = r.error;
    }
    if (failure != 0) {
      logFormat("device %" PRId64 " (%s): configuration report failed: %s", handle,
                d.attributes.name.c_str(), std::strerror(failure));
    }
  }
  configurationPasses_.fetch_add(1);
}

void DeviceLayer::restoreDevicesOnQuit() {
  if (!hidManager_.load()) return;
  {
    std::lock_guard lock(registryLock_);
    settings_.interceptMask.store(0);
    settings_.hidButtonMask.store(0);
    sendConfigurationLocked();
    quitPassSent_ = true;
  }
  services_.clock.sleepFor(kQuitPause);
}

// --- Selection ----------------------------------------------------------------

void DeviceLayer::updateDeviceActive(bool found) {
  const bool was = deviceActive_.exchange(found);
  // The last supported mouse has gone: release whatever it still held.
  if (was && !found) postIdentification([this] { dispatcher_.consumeButtonMask(0); });
}

int32_t DeviceLayer::countSelectableDevices() {
  std::lock_guard lock(registryLock_);
  return registry_.countSelectable();
}

int32_t DeviceLayer::indexOfSelectedDevice() {
  std::lock_guard selection(selectionLock_);
  std::lock_guard lock(registryLock_);
  return registry_.indexOf(selectedDevice_);
}

int32_t DeviceLayer::selectedDeviceIndex() {
  std::lock_guard lock(selectionLock_);
  return selectedDeviceIndex_;
}

DeviceRecord DeviceLayer::describeDevice(int32_t index) {
  std::optional<DeviceRecord> record;
  {
    std::lock_guard lock(registryLock_);
    record = registry_.describe(index);
  }
  updateDeviceActive(record.has_value());
  return record.value_or(DeviceRecord{});
}

std::optional<DeviceRecord> DeviceLayer::awaitDeviceChange() {
  {
    std::unique_lock lock(deviceChangeMutex_);
    deviceChangeSignal_.wait(
        lock, [this] { return stopping_.load() || deviceChanges_ != deviceChangesSeen_; });
    if (stopping_.load()) return std::nullopt;
    deviceChangesSeen_ = deviceChanges_;
  }
  // The selection follows the device: the first selectable one equal to the
  // selected device, or else the first selectable one. It is read and
  // written back in one step, so a choice the user makes meanwhile stands.
  std::optional<DeviceRecord> record;
  {
    std::lock_guard selection(selectionLock_);
    std::lock_guard lock(registryLock_);
    int32_t index = registry_.indexOf(selectedDevice_);
    if (index >= registry_.countSelectable()) index = 0;
    record = registry_.describe(index);
    selectedDevice_ = record.value_or(DeviceRecord{});
    selectedDeviceIndex_ = index;
  }
  updateDeviceActive(record.has_value());
  DeviceRecord result = record.value_or(DeviceRecord{});
  if (result.type == 0 && services_.overlay) {
    OverlayControl* overlay = services_.overlay;
    services_.mainThread.post([overlay] { overlay->hideOverlayIfVisible(); });
  }
  return result;
}

void DeviceLayer::selectDevice(int32_t index) {
  std::optional<DeviceRecord> record;
  {
    std::lock_guard selection(selectionLock_);
    std::lock_guard lock(registryLock_);
    if (index < 0 || index >= registry_.countSelectable()) index = 0;
    record = registry_.describe(index);
    selectedDevice_ = record.value_or(DeviceRecord{});
    selectedDeviceIndex_ = index;
  }
  updateDeviceActive(record.has_value());
  deviceChangeCountdown_.arm(kTicksAfterSelection);
}

}  // namespace velt
