// The device layer: the registry of recognised mice, the countdowns that
// fold bursts of device events into one notice, the configuration passes (on
// a worker while some are asked for), and the identification queue that
// registers devices and dispatches every button. The queue and the
// countdowns run on the HID listener's loop, between its events; the loop
// alone owns the registry and what goes with it, and the requests that wait
// for a mouse run off it and post their answers back. One instance per
// process.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "core/button_function.h"
#include "core/clock.h"
#include "core/configuration_scheduler.h"
#include "core/main_thread.h"
#include "core/overlay_control.h"
#include "core/serial_queue.h"
#include "core/settings.h"
#include "core/timed_mutex.h"
#include "device/countdown.h"
#include "device/device_directory.h"
#include "device/device_registry.h"
#include "device/device_work.h"
#include "device/hid_transport.h"
#include "device/input_reports.h"
#include "device/model_catalogue.h"
#include "device/vendor_protocol.h"

namespace velt {

// What the device layer is given. Everything must outlive it.
struct DeviceLayerServices {
  Settings& settings;
  const ModelCatalogue& catalogue;  // loaded before initDeviceLayer, read-only after
  HidTransport& transport;
  ButtonFunctionRunner& runner;
  EventTaps& eventTaps;
  MainThread& mainThread;
  Clock& clock;
  Clock& tickClock;                   // the countdowns' time line
  OverlayControl* overlay = nullptr;  // hidden when the last mouse leaves; may be null
  // Only restoreDevicesOnQuit writes to the mice: the command line's
  // restore, which must send each mouse one pass that takes every button
  // back, and nothing more.
  bool restoreOnly = false;
  // Where the listener, the identification queue, the countdowns and the
  // device requests run; null: threads of the layer's own
  // (ThreadedDeviceWork).
  DeviceWork* work = nullptr;
  // What a press starts; null: the general table of settings.
  const ButtonAssignmentSource* assignments = nullptr;
};

class DeviceLayer final : public DeviceDirectory,
                          public ConfigurationScheduler,
                          public ButtonMaskSink,
                          private HidListener {
 public:
  explicit DeviceLayer(const DeviceLayerServices& services);
  // Stops the threads.
  ~DeviceLayer() override;
  DeviceLayer(const DeviceLayer&) = delete;
  DeviceLayer& operator=(const DeviceLayer&) = delete;

  // Creates the event taps, then starts the listener and the identification
  // queue, and allows configuration passes. False when called before, or
  // when the event taps cannot be created (then nothing starts).
  bool initDeviceLayer();
  // Ends every thread; no device-change notice goes out from then on. A
  // thread that a silent device keeps in a request (a handshake, or a
  // configuration pass) is given a moment, then left to the request's
  // time-out: waitingOnDevice() tells, and the destructor waits for it.
  // Safe to call more than once. restoreDevicesOnQuit comes first.
  void stop();
  // After stop(): a thread still waits for a device's answer.
  bool waitingOnDevice();

  // Told the USB ids of the present devices after each registration and
  // removal, on the identification queue. Any thread; once this returns with
  // nullptr, the old observer hears nothing more.
  void setRegistryObserver(RegistryObserver* observer);
  // Called once when the HID listener cannot start; the process should end.
  void setFatalErrorHandler(std::function<void()> handler) { fatalError_ = std::move(handler); }

  // DeviceDirectory
  int32_t countSelectableDevices() override;
  int32_t indexOfSelectedDevice() override;
  DeviceRecord describeDevice(int32_t index) override;
  void onDeviceChange(std::function<void(const DeviceRecord&)> changed) override;
  void selectDevice(int32_t index) override;
  int32_t selectedDeviceIndex() override;
  void scheduleDeviceChangeNotice(int32_t milliseconds) override;
  void restoreDevicesOnQuit() override;
  // How many mice took every report of restoreDevicesOnQuit's pass.
  size_t restoredDevices() const { return restoredDevices_.load(); }
  // Blocks until every device present when the listener started has been
  // reported and the handshakes that followed have ended, or until timeout
  // has passed on the injected clock; true in the first case.
  bool waitForPresentDevices(Clock::Duration timeout);

  // ConfigurationScheduler
  void armConfigCountdown(int32_t ticks) override { configCountdown_.arm(ticks); }

  // ButtonMaskSink
  bool deviceActive() const override { return deviceActive_.load(); }
  void postButtonMask(uint8_t mask) override;

  // The agent's session has left the seat (false) or has it again (true).
  // Leaving: input reports are ignored; what the mice hold is released
  // through the dispatcher, and only then do the event taps hand the mice
  // back; then every mouse that answers gets the pass that takes its
  // buttons back, and every node is closed, so that the next user's clicks
  // work whether or not they run an agent, and no process here reads them.
  // Nothing goes to the mice after that, not even at quit. Returning: after
  // kSessionSettle, which lets the leaving session's agent give the mice
  // back first, the taps take over again and every device is looked for
  // anew, so that each is identified, registered and configured again. Any
  // thread; returns at once.
  void setSessionActive(bool active);
  static constexpr Clock::Duration kSessionSettle = std::chrono::seconds(1);
  bool sessionActive() const { return sessionActive_.load(); }
  // After the machine has woken: every mouse that was identified by a
  // handshake is asked again, and one that no longer answers as it did is
  // looked for anew; once all have answered (or not), a configuration pass
  // for every mouse, through the configuration countdown. Nothing while the
  // session is inactive. Any thread; returns at once.
  void recheckDevices();

  // Queues the matching and registration of an identified device. Any thread.
  void submitIdentification(const DeviceIdentity& identity);
  // Sends every configurable device its button masks, one pass at a time;
  // nothing once restoreDevicesOnQuit has begun its pass. The devices are
  // those of the listing the loop published last.
  void sendConfiguration();
  // Extra-button codes, dispatched on the identification queue like the
  // button masks, so that runButtonFunction is entered from that one thread.
  void postExtraButtonCode(uint8_t pressCode, uint8_t releaseCode);

  // Blocks until the handshakes under way have ended and the tasks queued on
  // the identification queue so far have run. Returns at once when the queue
  // is not running.
  void waitForIdentification();
  // How many configuration passes have finished.
  uint64_t configurationPasses() const { return configurationPasses_.load(); }
  // No countdown is running and no configuration pass is pending or under way.
  bool settled();

 private:
  // HidListener, on the listener thread.
  DeviceHandle newDeviceHandle() override { return registry_.newHandle(); }
  void onDeviceMatched(DeviceHandle device, const HidDeviceInfo& info) override;
  void onPresentDevicesListed() override;
  bool wantsReports(const HidDeviceInfo& info) override;
  void onDeviceRemoved(DeviceHandle device) override;
  void onInputReport(DeviceHandle device, uint8_t reportId, const uint8_t* report,
                     size_t length) override;
  NextRun runPosted() override { return work_.runPosted(); }

  // A configurable device's side of the passes. Its lock is held while
  // reports are written to it, so that the quit pass comes after whatever a
  // pass was writing; silent is set once a request of a pass has timed out,
  // and from then on every pass leaves the device out.
  struct Channel {
    TimedMutex lock;
    std::atomic<bool> silent{false};
  };
  // What a configuration pass writes to one device.
  struct PassTarget {
    DeviceHandle handle;
    int32_t type;
    int32_t buttonMask;
    int32_t swap45;
    std::string name;
    bool identifying;  // its handshake is under way
    std::shared_ptr<Channel> channel;
  };
  // What the other threads read of the registry: the window's list and the
  // passes' devices, in registry order. The loop publishes a new one after
  // every change; a reader keeps the one it loaded, whole.
  struct Listing {
    std::vector<DeviceRecord> selectable;
    std::vector<PassTarget> targets;
  };
  // On the loop.
  void publishListing();
  std::shared_ptr<const Listing> listing() const;

  // On the listener, before it reads: false when the HID system cannot be
  // opened (logged, and the fatal error handler called).
  bool openListener();
  // On the loop: starts a worker for a configuration pass when one was
  // asked for, unless one runs or passes are not allowed. The worker posts
  // its end back, and a request that came meanwhile starts the next.
  void startPass();
  void runHandshake(DeviceKind kind, DeviceHandle device, const HidDeviceInfo& info);
  // The device's handshake on the calling thread; with a channel, under its
  // lock as a pass takes it, so that it never falls in the middle of a
  // pass's reports.
  HandshakeEnd handshake(DeviceKind kind, DeviceHandle device, const HidDeviceInfo& info,
                         const SubmitIdentification& submit,
                         const std::shared_ptr<Channel>& channel = nullptr);
  void registerIdentifiedDevice(const DeviceIdentity& identity);
  void notifyRegistryObserver();
  // Queues task on the identification queue; dropped when it is not running.
  bool postIdentification(std::function<void()> task) { return work_.post(std::move(task)); }
  // Sets deviceActive to found; when that clears it, the final all-released
  // mask goes to the dispatcher.
  void updateDeviceActive(bool found);
  // The device-change countdown ran out, on the listener's loop: the
  // selection follows the devices, and the notice goes out.
  void raiseDeviceChange();
  void raiseConfigRequest();
  // The configurable devices in registry order; skipping those that did not
  // answer, and for the quit pass those still being identified.
  std::vector<PassTarget> passTargets(bool quitting) const;
  // Writes one device's reports; true when it took them all. Then keeps,
  // or forgets, the reports that give back what m and h hand over.
  bool configureDevice(const PassTarget& target, uint8_t m, uint8_t h);
  // Sends every configurable device that answers the reports that take its
  // buttons back, each device's lock waited for until deadline on the
  // injected clock; the number that took them all.
  size_t restorePass(Clock::TimePoint deadline);
  // Leaving the seat, on a worker: the restore pass, then every node closed.
  void leaveSeat();
  // A request of a pass to the device timed out; on the pass's thread.
  void markSilent(const PassTarget& target);
  // The device's channel, made when it has none; on the loop.
  const std::shared_ptr<Channel>& channelOf(DeviceHandle device);
  // On the loop: asks every registered device its handshake again, each on
  // a worker (recheckDevice), and reopens those that never answered.
  void recheckOnLoop();
  void recheckDevice(DeviceHandle device, DeviceKind kind, const HidDeviceInfo& info, int32_t type,
                     int32_t modelId, std::shared_ptr<Channel> channel);

  DeviceLayerServices services_;
  Settings& settings_;
  std::unique_ptr<ThreadedDeviceWork> ownWork_;  // when none is given
  DeviceWork& work_;

  // The locks, in the order they are taken when more than one is held:
  //   seatLock_ -> passLock_ -> a device's channel
  //   a device's channel -> probeLock_ (a handshake under its channel)
  //   noticeLock_ -> selectionLock_ (a notice follows the selection, then
  //   the handler posts it)
  // The others (listingLock_, observerLock_, and those of the DeviceWork)
  // are taken alone.
  //
  // Owned by the loop: the registry, and the sets and maps below it up to
  // channels_. Other threads read the listing it publishes.
  DeviceRegistry registry_;
  // Handles whose handshake is under way, and handles that did not answer
  // their handshake or a pass.
  std::set<DeviceHandle> identifying_;
  std::set<DeviceHandle> silent_;
  // How each device that answers a handshake was found, so that it can be
  // asked again after sleep.
  struct Probe {
    DeviceKind kind;
    HidDeviceInfo info;
  };
  std::map<DeviceHandle, Probe> probes_;
  // The node of each device that may be registered, for the topics of log
  // lines that may repeat.
  std::map<DeviceHandle, std::string> nodes_;
  std::map<DeviceHandle, std::shared_ptr<Channel>> channels_;
  // Held only to copy or swap the pointer, never while anything else is
  // done. (libstdc++ 12's atomic shared pointer would do, but its lock bit
  // is invisible to ThreadSanitizer.)
  mutable std::mutex listingLock_;
  std::shared_ptr<const Listing> listing_ = std::make_shared<const Listing>();
  std::atomic<bool> sessionActive_{true};
  // Counts the changes of sessionActive_, so that a delayed return to the
  // seat that has been overtaken does nothing.
  std::atomic<uint64_t> sessionChanges_{0};
  std::atomic<size_t> restoredDevices_{0};
  // Held while the seat is left (the restore pass, then closing) or taken
  // again (reopening), so that the two never interleave. Taken before
  // passLock_.
  std::mutex seatLock_;
  std::mutex probeLock_;
  // Serialises configuration passes; the quit pass does not wait for a pass
  // that a silent device holds up.
  TimedMutex passLock_;
  std::atomic<uint8_t> reportSequence_{0};
  // Set as the quit pass begins: no other pass writes anything after it.
  std::atomic<bool> quitPassStarted_{false};

  ExtraButtonEnabled extraButtonEnabled_{};
  ButtonDispatcher dispatcher_;
  std::atomic<bool> deviceActive_{false};

  std::mutex selectionLock_;
  DeviceRecord selectedDevice_;      // guarded by selectionLock_
  int32_t selectedDeviceIndex_ = 0;  // guarded by selectionLock_

  // Held while a device-change notice goes out, so that none is under way
  // once stop() or onDeviceChange(nullptr) has returned.
  std::mutex noticeLock_;
  std::function<void(const DeviceRecord&)> deviceChanged_;  // guarded by noticeLock_
  // The configuration countdown's requests, on the loop: one asked for and
  // not yet begun, and one under way on a worker; passesPending_ tells
  // other threads whether either is.
  bool passRequested_ = false;
  bool passRunning_ = false;
  std::atomic<bool> passesPending_{false};
  std::atomic<bool> passesAllowed_{false};  // from start to stop
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> configurationPasses_{0};

  Countdown deviceChangeCountdown_;
  Countdown configCountdown_;

  std::atomic<bool> initialised_{false};
  std::atomic<bool> presentListed_{false};
  std::atomic<bool> hidManager_{false};  // the listener has opened the HID system
  std::atomic<bool> listening_{false};   // from its start to stop()

  std::mutex observerLock_;
  RegistryObserver* observer_ = nullptr;  // guarded by observerLock_
  std::function<void()> fatalError_;
};

}  // namespace velt
