#include "device/device_layer.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/log.h"
#include "device/device_handlers.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kTicksAfterRegistration = 3;
constexpr int32_t kTicksAfterRemoval = 3;
constexpr int32_t kTicksAfterSelection = 1;
constexpr int32_t kMillisecondsPerTick = 200;
// How long quitting waits for a device to be free for its last reports, and
// then for the threads that talk to devices to end. A device that does not
// answer keeps a request for seconds (uhid: 5 s); quitting does not wait for
// it.
constexpr auto kQuitPatience = std::chrono::milliseconds(300);
constexpr auto kStopPatience = std::chrono::milliseconds(100);

bool accessDenied(int error) {
  return error == EACCES || error == EPERM;
}

}  // namespace

DeviceLayer::DeviceLayer(const DeviceLayerServices& services)
    : services_(services),
      settings_(services.settings),
      ownWork_(services.work
                   ? nullptr
                   : std::make_unique<ThreadedDeviceWork>(services.transport, services.tickClock)),
      work_(services.work ? *services.work : *ownWork_),
      dispatcher_(services.settings, extraButtonEnabled_, services.runner, services.assignments),
      deviceChangeCountdown_(work_, "notify device change", [this] { raiseDeviceChange(); }),
      configCountdown_(work_, "notify device state change", [this] { raiseConfigRequest(); }) {}

DeviceLayer::~DeviceLayer() {
  stop();
  ownWork_.reset();  // waits for what a silent device still holds
}

bool DeviceLayer::initDeviceLayer() {
  if (initialised_.exchange(true)) {
    logLine("skip initial lib...");
    return false;
  }
  if (!services_.eventTaps.createEventTaps()) return false;
  logLine("initial lib...");
  passesAllowed_.store(true);
  work_.openQueue();
  listening_.store(true);
  work_.startListener([this] { return openListener(); },
                      [this] { services_.transport.run(*this); });
  return true;
}

void DeviceLayer::stop() {
  stopping_.store(true);
  { std::lock_guard lock(noticeLock_); }  // a notice going out has gone
  passesAllowed_.store(false);

  hidManager_.store(false);
  if (listening_.exchange(false)) {
    services_.transport.stop();
    work_.joinListener();
  }
  deviceChangeCountdown_.stop();
  configCountdown_.stop();
  work_.awaitJobs(services_.clock, services_.clock.now() + kStopPatience);
  work_.closeQueue();
}

bool DeviceLayer::waitingOnDevice() {
  return work_.jobsLeft();
}

// --- Listener thread -------------------------------------------------------

bool DeviceLayer::openListener() {
  std::string reason;
  if (!services_.transport.open(reason)) {
    logFormat("HID listener cannot start: %s", reason.c_str());
    logLine("register usb error");
    if (fatalError_) fatalError_();
    return false;
  }
  hidManager_.store(!stopping_.load());
  return true;
}

bool DeviceLayer::wantsReports(const HidDeviceInfo& info) {
  const DeviceKind kind = classifyDevice(services_.catalogue.classes, info.properties);
  return kind != DeviceKind::Ignored && kind != DeviceKind::OtherMouse;
}

void DeviceLayer::onDeviceMatched(DeviceHandle device, const HidDeviceInfo& info) {
  if (!info.problem.empty()) {
    logRepeatingFormat("skipped " + info.name, "%s skipped: %s", describeHidDevice(info).c_str(),
                       info.problem.c_str());
    return;
  }
  // Another session has the seat: its agent looks after the mice. Every
  // device is looked for anew when this one has the seat again.
  if (!sessionActive_.load()) return;
  const HidProperties& p = info.properties;
  const DeviceKind kind = classifyDevice(services_.catalogue.classes, p);
  logDebug("%s: usage %04X:%04X, reports in %d out %d feature %d, last id %d, kind %d",
           describeHidDevice(info).c_str(), static_cast<unsigned>(p.primaryUsagePage),
           static_cast<unsigned>(p.primaryUsage), p.maxInputReportSize, p.maxOutputReportSize,
           p.maxFeatureReportSize, p.lastReportId, static_cast<int>(kind));
  if (kind == DeviceKind::Ignored) return;
  nodes_[device] = info.name;
  if (kind == DeviceKind::OtherMouse) {
    // Needs no report traffic, so no access to the node either.
    DeviceIdentity identity{device, kDeviceOtherMouse, 0, p.vendorId, p.productId, true};
    postIdentification([this, identity] { submitIdentification(identity); });
    return;
  }
  if (info.openError != 0) {
    if (accessDenied(info.openError)) {
      logRepeatingFormat(
          "open " + info.name,
          "cannot open %s: %s. Give your user read and write access to the mouse's hidraw "
          "nodes with the udev rule described in the README (\"Access to the mice\"), then "
          "plug the mouse in again",
          describeHidDevice(info).c_str(), std::strerror(info.openError));
    } else {
      logRepeatingFormat("open " + info.name, "cannot open %s: %s; skipped",
                         describeHidDevice(info).c_str(), std::strerror(info.openError));
    }
    return;
  }
  if (!asksTheDevice(kind)) {
    handshake(kind, device, info,
              [this](const DeviceIdentity& identity) { submitIdentification(identity); });
    return;
  }
  // A handshake waits for the device's answers, seconds for one that never
  // answers: it runs on a thread of its own, so that the listener goes on
  // reading the other mice.
  identifying_.insert(device);
  probes_[device] = {kind, info};
  work_.startJob(true, [this, kind, device, info] { runHandshake(kind, device, info); });
}

void DeviceLayer::onPresentDevicesListed() {
  presentListed_.store(true);
}

bool DeviceLayer::waitForPresentDevices(Clock::Duration timeout) {
  const auto end = services_.clock.now() + timeout;
  while (!presentListed_.load()) {
    if (stopping_.load() || services_.clock.now() >= end) return false;
    services_.clock.sleepFor(std::chrono::milliseconds(10));
  }
  waitForIdentification();
  return true;
}

void DeviceLayer::runHandshake(DeviceKind kind, DeviceHandle device, const HidDeviceInfo& info) {
  nameCurrentThread("velt handshake");
  const HandshakeEnd end = handshake(kind, device, info, [this](const DeviceIdentity& identity) {
    submitIdentification(identity);
  });
  // After the registration the handshake posted, if any.
  postIdentification([this, device, end] {
    identifying_.erase(device);
    if (end == HandshakeEnd::Silent) silent_.insert(device);
    publishListing();
  });
}

HandshakeEnd DeviceLayer::handshake(DeviceKind kind, DeviceHandle device, const HidDeviceInfo& info,
                                    const SubmitIdentification& submit,
                                    const std::shared_ptr<Channel>& channel) {
  std::unique_lock<TimedMutex> hold;
  if (channel) hold = std::unique_lock(channel->lock);
  HandshakeContext context{services_.transport, services_.clock, probeLock_, &stopping_};
  return identifyDevice(kind, device, info, context, submit);
}

void DeviceLayer::onDeviceRemoved(DeviceHandle device) {
  const RemovalEffects effects = handleRemoval(registry_, device);
  std::string node;
  probes_.erase(device);
  silent_.erase(device);
  channels_.erase(device);
  if (auto found = nodes_.find(device); found != nodes_.end()) {
    node = std::move(found->second);
    nodes_.erase(found);
  }
  if (effects.wasPresent) publishListing();
  // A mouse that goes with buttons down never sends their release. While
  // another mouse keeps the agent active nothing else would release them,
  // and a held shortcut or pointer mode would stay on.
  if (effects.releaseMask) postButtonMask(0);
  if (effects.releaseExtraButton0) {
    postExtraButtonCode(0, static_cast<uint8_t>(ExtraButtonCodes[0].release));
  }
  deviceChangeCountdown_.arm(kTicksAfterRemoval);
  if (effects.wasPresent) {
    logRepeatingFormat("removed " + node, "device %" PRId64 " removed", device);
    postIdentification([this] { notifyRegistryObserver(); });
  }
}

void DeviceLayer::onInputReport(DeviceHandle device, uint8_t reportId, const uint8_t* report,
                                size_t length) {
  if (!sessionActive_.load()) return;
  if (debugLogging()) {
    char label[48];
    std::snprintf(label, sizeof label, "input %u device %" PRId64, reportId, device);
    logHexDump(label, report, length);
  }
  const InputReportEffects effects = handleInputReport(registry_, device, reportId, report, length);
  if (effects.shortOfNeeded) {
    std::string topic;
    if (auto node = nodes_.find(device); node != nodes_.end()) topic = "short " + node->second;
    logRepeatingFormat(
        topic, "device %" PRId64 " (%s): input report of %zu bytes, %zu expected; ignored", device,
        registry_.find(device)->attributes.name.c_str(), length, *effects.shortOfNeeded);
  }
  if (effects.mask) postButtonMask(*effects.mask);
  if (effects.extraCode != 0) {
    postExtraButtonCode(effects.extraCode, 0);
    postExtraButtonCode(0, effects.extraCode);
  }
}

// --- Identification queue ---------------------------------------------------

void DeviceLayer::submitIdentification(const DeviceIdentity& identity) {
  postIdentification([this, identity] { registerIdentifiedDevice(identity); });
}

void DeviceLayer::registerIdentifiedDevice(const DeviceIdentity& identity) {
  // A handshake that ended after the session left the seat: the device is
  // looked for anew when it has the seat again.
  if (!sessionActive_.load()) return;
  const ModelDefinition* model = matchModel(services_.catalogue, identity, extraButtonEnabled_);
  if (model) {
    std::string node;
    if (auto found = nodes_.find(identity.handle); found != nodes_.end()) node = found->second;
    if (registry_.registerDevice(identity, *model)) {
      publishListing();
      if (!identity.noInput) services_.transport.subscribeInput(identity.handle);
      logRepeatingFormat("registered " + node, "device %" PRId64 ": %s (type %d, model %d)",
                         identity.handle, model->name.c_str(), identity.type, identity.modelId);
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

void DeviceLayer::setRegistryObserver(RegistryObserver* observer) {
  std::lock_guard lock(observerLock_);
  observer_ = observer;
}

void DeviceLayer::notifyRegistryObserver() {
  const std::vector<UsbId> ids = registry_.registeredUsbIds();
  std::lock_guard lock(observerLock_);
  if (observer_) observer_->registeredDevicesChanged(ids);
}

void DeviceLayer::postButtonMask(uint8_t mask) {
  if (!deviceActive_.load()) return;
  postIdentification([this, mask] { dispatcher_.consumeButtonMask(mask); });
}

void DeviceLayer::postExtraButtonCode(uint8_t pressCode, uint8_t releaseCode) {
  postIdentification(
      [this, pressCode, releaseCode] { dispatcher_.postExtraButtonCode(pressCode, releaseCode); });
}

void DeviceLayer::waitForIdentification() {
  work_.awaitIdentification();
}

// --- Countdowns and configuration ------------------------------------------

void DeviceLayer::onDeviceChange(std::function<void(const DeviceRecord&)> changed) {
  std::lock_guard lock(noticeLock_);
  deviceChanged_ = std::move(changed);
}

void DeviceLayer::raiseConfigRequest() {
  passRequested_ = true;
  startPass();
}

void DeviceLayer::scheduleDeviceChangeNotice(int32_t milliseconds) {
  deviceChangeCountdown_.arm(milliseconds / kMillisecondsPerTick + 1);
}

void DeviceLayer::startPass() {
  if (!passRunning_ && passRequested_ && passesAllowed_.load()) {
    passRunning_ = true;
    passRequested_ = false;
    work_.startJob(false, [this] {
      nameCurrentThread("notify device tstate change");
      if (passesAllowed_.load()) sendConfiguration();
      postIdentification([this] {
        passRunning_ = false;
        startPass();
      });
    });
  }
  passesPending_.store(passRunning_ || passRequested_);
}

bool DeviceLayer::settled() {
  if (deviceChangeCountdown_.remaining() > 0 || configCountdown_.remaining() > 0) return false;
  return !passesPending_.load();
}

std::vector<DeviceLayer::PassTarget> DeviceLayer::passTargets(bool quitting) const {
  std::vector<PassTarget> targets;
  // Held for the loop: the range's own temporary would not outlive its
  // first step.
  const auto listed = listing();
  for (const PassTarget& target : listed->targets) {
    if (target.channel->silent.load()) continue;
    // A device still being identified may not answer at all: it has had no
    // masks that quitting would have to take back.
    if (quitting && target.identifying) continue;
    targets.push_back(target);
  }
  return targets;
}

void DeviceLayer::publishListing() {
  auto next = std::make_shared<Listing>();
  next->selectable = registry_.selectableRecords();
  for (const auto& [handle, d] : registry_.devices()) {
    if (d.type == 0 || !isConfigurable(d.type, d.attributes.id)) continue;
    if (silent_.contains(handle)) continue;
    next->targets.push_back({handle, d.type, d.attributes.buttonMask, d.attributes.swap45,
                             d.attributes.name, identifying_.contains(handle), channelOf(handle)});
  }
  std::shared_ptr<const Listing> old;
  std::lock_guard lock(listingLock_);
  old = std::exchange(listing_, std::move(next));
}

std::shared_ptr<const DeviceLayer::Listing> DeviceLayer::listing() const {
  std::lock_guard lock(listingLock_);
  return listing_;
}

const std::shared_ptr<DeviceLayer::Channel>& DeviceLayer::channelOf(DeviceHandle device) {
  auto& channel = channels_[device];
  if (!channel) channel = std::make_shared<Channel>();
  return channel;
}

void DeviceLayer::sendConfiguration() {
  if (services_.restoreOnly) return;
  std::lock_guard pass(passLock_);
  // Once the quit pass has begun no other pass writes anything: the mice
  // must be left handling their buttons themselves, not handing them to an
  // agent that has gone.
  if (quitPassStarted_.load() || !sessionActive_.load()) return;
  const uint8_t intercept = settings_.interceptMask.load(std::memory_order_relaxed);
  const uint8_t h = settings_.hidButtonMask.load(std::memory_order_relaxed);
  for (const PassTarget& target : passTargets(false)) {
    std::lock_guard channel(target.channel->lock);
    if (quitPassStarted_.load() || stopping_.load() || !sessionActive_.load()) break;
    configureDevice(target,
                    configurationMask(target.type, target.buttonMask, intercept, target.swap45), h);
  }
  configurationPasses_.fetch_add(1);
}

bool DeviceLayer::configureDevice(const PassTarget& target, uint8_t m, uint8_t h) {
  uint8_t sequence = target.type == kDeviceType1 ? reportSequence_.fetch_add(1) : 0;
  // What the pass hands over is what a crash would have to give back.
  uint8_t next = sequence + 1;
  services_.transport.keepRestoreReports(
      target.handle, (m | h) != 0 ? configurationReports(target.type, 0, 0, next)
                                  : std::vector<ConfigurationReport>{});
  int failure = 0;
  for (const auto& report : configurationReports(target.type, m, h, sequence)) {
    if (report.pauseBefore > Clock::Duration::zero()) services_.clock.sleepFor(report.pauseBefore);
    if (debugLogging()) {
      char label[48];
      std::snprintf(label, sizeof label, "set feature %u device %" PRId64, report.reportId,
                    target.handle);
      logHexDump(label, report.bytes.data(), report.bytes.size());
    }
    HidResult r =
        services_.transport.setFeatureReport(target.handle, report.reportId, report.bytes);
    if (r.error == ETIMEDOUT) {
      markSilent(target);
      return false;
    }
    if (!r.ok() && failure == 0) failure = r.error;
  }
  if (failure != 0) {
    logRepeatingFormat("configuration " + target.name,
                       "device %" PRId64 " (%s): configuration report failed: %s", target.handle,
                       target.name.c_str(), std::strerror(failure));
  }
  return failure == 0;
}

void DeviceLayer::markSilent(const PassTarget& target) {
  if (target.channel->silent.exchange(true)) return;
  // For the recheck after sleep, which reopens it.
  postIdentification([this, device = target.handle] {
    if (channels_.contains(device)) silent_.insert(device);
    publishListing();
  });
  // A mouse that does not answer would hold up a crashing agent's way out.
  services_.transport.keepRestoreReports(target.handle, {});
  logRepeatingFormat("silent " + target.name,
                     "device %" PRId64 " (%s) does not answer; no more configuration reports",
                     target.handle, target.name.c_str());
}

void DeviceLayer::restoreDevicesOnQuit() {
  if (!hidManager_.load()) return;
  const Clock::TimePoint deadline = services_.clock.now() + kQuitPatience;
  settings_.interceptMask.store(0);
  settings_.hidButtonMask.store(0);
  quitPassStarted_.store(true);
  // The mice were given back when the session left the seat, and serve
  // another session now.
  if (!sessionActive_.load()) return;
  restoredDevices_.store(restorePass(deadline));
}

size_t DeviceLayer::restorePass(Clock::TimePoint deadline) {
  // One pass at a time, unless a device that does not answer holds up the
  // pass under way: then each device's own lock keeps the order.
  std::unique_lock<TimedMutex> pass;
  if (passLock_.try_lock_until(services_.clock, deadline)) {
    pass = std::unique_lock(passLock_, std::adopt_lock);
  }
  size_t restored = 0;
  for (const PassTarget& target : passTargets(true)) {
    if (!target.channel->lock.try_lock_until(services_.clock, deadline)) {
      logFormat("device %" PRId64 " (%s) does not answer; left as it is", target.handle,
                target.name.c_str());
      continue;
    }
    std::lock_guard channel(target.channel->lock, std::adopt_lock);
    restored += configureDevice(target, 0, 0);
  }
  configurationPasses_.fetch_add(1);
  // The reports went out with the calls that wrote them: hidraw returns from
  // a report only once the device has taken it.
  return restored;
}

// --- Session and sleep -------------------------------------------------------

void DeviceLayer::setSessionActive(bool active) {
  if (sessionActive_.exchange(active) == active) return;
  const uint64_t change = sessionChanges_.fetch_add(1) + 1;
  if (active) {
    // seatLock_ may be held by a pass to a mouse that does not answer: the
    // taking over waits for it off the loop.
    work_.runAfter("session settle", kSessionSettle, [this, change] {
      work_.startJob(false, [this, change] {
        std::lock_guard seat(seatLock_);
        if (sessionChanges_.load() != change || stopping_.load()) return;
        services_.eventTaps.setTakingOver(true);
        services_.transport.reopenAll();
      });
    });
    return;
  }
  // A button held through the takeover is released before its grab goes.
  auto release = [this] {
    for (const auto& entry : registry_.devices()) registry_.find(entry.first)->held = {};
    dispatcher_.releaseAll();
    services_.eventTaps.setTakingOver(false);
    // The pass waits for the mice: off the identification queue.
    work_.startJob(false, [this] { leaveSeat(); });
  };
  if (!postIdentification(release)) release();
}

void DeviceLayer::leaveSeat() {
  std::lock_guard seat(seatLock_);
  if (!hidManager_.load() || stopping_.load() || sessionActive_.load()) return;
  const size_t restored = restorePass(services_.clock.now() + kQuitPatience);
  logFormat("session inactive: %zu %s given back", restored, restored == 1 ? "mouse" : "mice");
  // Back meanwhile: the return to the seat reopens what is open now.
  if (!sessionActive_.load()) services_.transport.closeAll();
}

void DeviceLayer::recheckDevices() {
  if (!sessionActive_.load() || stopping_.load() || !hidManager_.load()) return;
  postIdentification([this] { recheckOnLoop(); });
}

void DeviceLayer::recheckOnLoop() {
  if (!sessionActive_.load() || stopping_.load()) return;
  struct Ask {
    DeviceHandle handle;
    Probe probe;
    int32_t type;
    int32_t modelId;
    std::shared_ptr<Channel> channel;
  };
  std::vector<Ask> asks;
  for (const auto& [handle, probe] : probes_) {
    if (identifying_.contains(handle)) continue;
    // One that never answered may answer now.
    if (silent_.contains(handle)) {
      services_.transport.reopenDevice(handle);
      continue;
    }
    const RegisteredDevice* d = registry_.find(handle);
    if (d && d->type != 0)
      asks.push_back({handle, probe, d->type, d->attributes.id, channelOf(handle)});
  }
  // The pass follows the last answer, so that no mouse is configured and
  // then asked again, or configured just before it is looked for anew. The
  // count is the loop's: each answer is posted back to it.
  auto left = std::make_shared<size_t>(asks.size());
  if (asks.empty()) configCountdown_.arm(1);
  for (Ask& ask : asks) {
    work_.startJob(true, [this, ask, left] {
      recheckDevice(ask.handle, ask.probe.kind, ask.probe.info, ask.type, ask.modelId, ask.channel);
      postIdentification([this, left] {
        if (--*left == 0) configCountdown_.arm(1);
      });
    });
  }
}

void DeviceLayer::recheckDevice(DeviceHandle device, DeviceKind kind, const HidDeviceInfo& info,
                                int32_t type, int32_t modelId, std::shared_ptr<Channel> channel) {
  nameCurrentThread("velt handshake");
  std::optional<DeviceIdentity> answer;
  const HandshakeEnd end = handshake(
      kind, device, info, [&answer](const DeviceIdentity& identity) { answer = identity; },
      channel);
  if (end == HandshakeEnd::Gone || stopping_.load()) return;
  if (end == HandshakeEnd::Done && answer && answer->type == type && answer->modelId == modelId) {
    return;
  }
  logFormat("device %" PRId64 " does not answer as it did; looking for it again", device);
  services_.transport.reopenDevice(device);
}

// --- Selection ----------------------------------------------------------------

void DeviceLayer::updateDeviceActive(bool found) {
  const bool was = deviceActive_.exchange(found);
  // The last supported mouse has gone: release whatever it still held.
  if (was && !found) postIdentification([this] { dispatcher_.consumeButtonMask(0); });
}

int32_t DeviceLayer::countSelectableDevices() {
  return static_cast<int32_t>(listing()->selectable.size());
}

int32_t DeviceLayer::indexOfSelectedDevice() {
  const auto shown = listing();
  std::lock_guard selection(selectionLock_);
  return indexOfDevice(shown->selectable, selectedDevice_);
}

int32_t DeviceLayer::selectedDeviceIndex() {
  std::lock_guard lock(selectionLock_);
  return selectedDeviceIndex_;
}

DeviceRecord DeviceLayer::describeDevice(int32_t index) {
  const auto shown = listing();
  if (index < 0 || index >= static_cast<int32_t>(shown->selectable.size())) return {};
  return shown->selectable[index];
}

void DeviceLayer::raiseDeviceChange() {
  std::lock_guard notice(noticeLock_);
  if (stopping_.load()) return;
  // The selection follows the device: the first selectable one equal to the
  // selected device, or else the first selectable one. It is read and
  // written back in one step, so a choice the user makes meanwhile stands.
  std::optional<DeviceRecord> record;
  {
    const auto shown = listing();
    std::lock_guard lock(selectionLock_);
    const Selection selection = followSelection(shown->selectable, selectedDevice_);
    record = selection.device;
    selectedDevice_ = record.value_or(DeviceRecord{});
    selectedDeviceIndex_ = selection.index;
  }
  updateDeviceActive(record.has_value());
  const DeviceRecord result = record.value_or(DeviceRecord{});
  if (result.type == 0 && services_.overlay) {
    OverlayControl* overlay = services_.overlay;
    services_.mainThread.post([overlay] { overlay->hideOverlayIfVisible(); });
  }
  if (deviceChanged_) deviceChanged_(result);
}

void DeviceLayer::selectDevice(int32_t index) {
  std::optional<DeviceRecord> record;
  {
    const auto shown = listing();
    std::lock_guard lock(selectionLock_);
    const Selection selection = chooseSelection(shown->selectable, index);
    record = selection.device;
    selectedDevice_ = record.value_or(DeviceRecord{});
    selectedDeviceIndex_ = selection.index;
  }
  updateDeviceActive(record.has_value());
  deviceChangeCountdown_.arm(kTicksAfterSelection);
}

}  // namespace velt
