#include "platform/input/evdev_takeover.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "core/log.h"
#include "core/number_text.h"
#include "platform/input/evdev_handles.h"
#include "platform/input/uinput_events.h"
#include "platform/system/unique_fd.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

// How soon a mouse with a button held at takeover time is looked at again.
constexpr auto kHeldButtonRetry = 200ms;

std::string text(const char* s) {
  return s ? std::string(s) : std::string();
}

std::string errorText(int negativeErrno) {
  return strerror(-negativeErrno);
}

// uinput devices, ours and other programs', have no parent device and sit
// directly under the virtual input class.
bool isVirtualInputDevice(const std::string& syspath) {
  return syspath.starts_with("/sys/devices/virtual/input/");
}

bool isPointer(libevdev* dev) {
  if (libevdev_has_event_code(dev, EV_REL, REL_X) && libevdev_has_event_code(dev, EV_REL, REL_Y)) {
    return true;
  }
  return libevdev_has_event_code(dev, EV_REL, REL_WHEEL) ||
         libevdev_has_event_code(dev, EV_KEY, BTN_LEFT);
}

// Whether any key or button of the node is down right now, as the kernel
// sees it.
bool anyKeyDown(int fd) {
  unsigned long down[KEY_CNT / (8 * sizeof(unsigned long)) + 1] = {};
  if (ioctl(fd, EVIOCGKEY(sizeof down), down) < 0) return false;
  for (unsigned long word : down) {
    if (word) return true;
  }
  return false;
}

timeval monotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return {now.tv_sec, static_cast<suseconds_t>(now.tv_nsec / 1000)};
}

// Lets go of a grabbed node; a node that has gone needs no letting go.
void ungrab(libevdev* dev, const std::string& label) {
  const int rc = libevdev_grab(dev, LIBEVDEV_UNGRAB);
  if (rc < 0 && rc != -ENODEV) {
    logFormat("event taps: cannot hand %s back to the system: %s", label.c_str(), strerror(-rc));
  }
}

// A grabbed evdev node. Events stamped before the grab also reached the
// system and are not passed on again. Letting go ungrabs it.
class EvdevSource : public InputSource {
 public:
  EvdevSource(UniqueFd fd, EvdevPtr dev, std::string label, timeval grabbedAt, int dotsPerInch)
      : fd_(std::move(fd)),
        dev_(std::move(dev)),
        label_(std::move(label)),
        grabbedAt_(grabbedAt),
        dotsPerInch_(dotsPerInch) {}
  ~EvdevSource() override { ungrab(dev_.get(), label_); }
  int fd() const override { return fd_.get(); }
  int dotsPerInch() const override { return dotsPerInch_; }

  bool read(std::vector<input_event>& events) override {
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
      input_event e{};
      int rc = libevdev_next_event(dev_.get(), flags, &e);
      if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
        if (beforeGrab(e.time)) continue;
        events.push_back(e);
      } else if (rc == LIBEVDEV_READ_STATUS_SYNC) {
        // First the SYN_DROPPED, then the events that bring the state up to
        // date, read in sync mode until there are no more.
        events.push_back(e);
        flags = LIBEVDEV_READ_FLAG_SYNC;
      } else if (rc == -EAGAIN) {
        if (flags == LIBEVDEV_READ_FLAG_NORMAL) return true;
        flags = LIBEVDEV_READ_FLAG_NORMAL;
      } else {
        return false;
      }
    }
  }

 private:
  bool beforeGrab(const timeval& t) {
    if (!grabbedAt_) return false;
    if (timercmp(&t, &*grabbedAt_, <)) return true;
    grabbedAt_.reset();
    return false;
  }

  UniqueFd fd_;
  EvdevPtr dev_;
  std::string label_;
  std::optional<timeval> grabbedAt_;
  int dotsPerInch_;
};

// The virtual copy of a mouse.
class UinputClone : public InputSink {
 public:
  explicit UinputClone(EvdevUinputPtr clone) : clone_(std::move(clone)) {}
  bool write(std::span<const input_event> events) override {
    return writeEvents(libevdev_uinput_get_fd(clone_.get()), events);
  }

 private:
  EvdevUinputPtr clone_;
};

}  // namespace

EvdevTakeover::EvdevTakeover(PointerTaps& taps, DelayedTasks& timers)
    : loop_(taps), timers_(timers) {
  loop_.setNodeGoneHandler([this](const std::string& node) { nodeIds_.erase(node); });
}

EvdevTakeover::~EvdevTakeover() {
  stop();
}

bool EvdevTakeover::createEventTaps() {
  if (started_) return true;
  if (!loop_.start()) return false;
  started_ = true;
  {
    std::lock_guard lock(retryTarget_->mutex);
    retryTarget_->takeover = this;
  }
  loop_.post([this] {
    startWatching();
    rescan();
  });
  return true;
}

void EvdevTakeover::stop() {
  {
    std::lock_guard lock(retryTarget_->mutex);
    retryTarget_->takeover = nullptr;
  }
  loop_.stop();
  nodeIds_.clear();
  monitor_.reset();
  udev_.reset();
}

void EvdevTakeover::registeredDevicesChanged(const std::vector<UsbId>& devices) {
  // The registry changes with every mouse that comes or goes; under load a
  // rescan per change would queue up seconds of rescans, and a mouse that
  // went meanwhile would keep its copy until they had run. Only the newest
  // list counts.
  loop_.postReplacing("registered devices", [this, devices] {
    registered_ = devices;
    rescan();
  });
}

void EvdevTakeover::startWatching() {
  udev_.reset(udev_new());
  if (!udev_) {
    logFormat("event taps: no udev (%s); the mice keep their standard buttons and wheel",
              strerror(errno));
    return;
  }
  // Without a udev daemon the kernel's own announcements are all there is.
  const bool daemon = access("/run/udev/control", F_OK) == 0;
  monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), daemon ? "udev" : "kernel"));
  if (!monitor_ ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "input", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_.get()) < 0) {
    logFormat(
        "event taps: cannot watch for input devices (%s); mice plugged in later keep "
        "their standard buttons and wheel",
        strerror(errno));
    monitor_.reset();
    return;
  }
  loop_.watch(udev_monitor_get_fd(monitor_.get()), [this] { onMonitorEvent(); });
}

void EvdevTakeover::onMonitorEvent() {
  UdevDevicePtr device{udev_monitor_receive_device(monitor_.get())};
  if (!device) return;
  std::string action = text(udev_device_get_action(device.get()));
  std::string node = text(udev_device_get_devnode(device.get()));
  if (action == "remove") {
    if (!node.empty()) {
      loop_.removeNode(node);
      nodeIds_.erase(node);
      std::erase_if(reported_, [&](const std::string& r) { return r.starts_with(node + " "); });
    }
  } else if (action == "add" || action == "change") {
    consider(device.get());
  }
}

void EvdevTakeover::rescan() {
  UdevEnumeratePtr list{udev_ ? udev_enumerate_new(udev_.get()) : nullptr};
  if (list) {
    udev_enumerate_add_match_subsystem(list.get(), "input");
    udev_enumerate_add_match_sysname(list.get(), "event*");
    udev_enumerate_scan_devices(list.get());
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
      UdevDevicePtr device{
          udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry))};
      if (device) consider(device.get());
    }
  }
  // Mice no longer registered go back to the system.
  for (const std::string& node : loop_.nodeKeys()) {
    auto id = nodeIds_.find(node);
    if (id != nodeIds_.end() && registered(id->second)) continue;
    logRepeatingFormat("let go " + node, "event taps: letting go of %s", node.c_str());
    loop_.removeNode(node);
    nodeIds_.erase(node);
  }
}

void EvdevTakeover::setTakingOver(bool takeOver) {
  loop_.post([this, takeOver] {
    if (takingOver_ == takeOver) return;
    takingOver_ = takeOver;
    // Access to the nodes may have changed meanwhile: say again what fails.
    if (takeOver) reported_.clear();
    rescan();
  });
}

bool EvdevTakeover::registered(UsbId id) const {
  return takingOver_ && std::find(registered_.begin(), registered_.end(), id) != registered_.end();
}

void EvdevTakeover::consider(udev_device* device) {
  std::string node = text(udev_device_get_devnode(device));
  if (node.empty() || !text(udev_device_get_sysname(device)).starts_with("event")) return;
  if (loop_.hasNode(node)) return;
  udev_device* input = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
  if (!input || isVirtualInputDevice(text(udev_device_get_syspath(input)))) return;
  auto vendor = scanHex(text(udev_device_get_sysattr_value(input, "id/vendor")));
  auto product = scanHex(text(udev_device_get_sysattr_value(input, "id/product")));
  if (!vendor || !product) return;
  UsbId id{static_cast<int32_t>(*vendor), static_cast<int32_t>(*product)};
  if (!registered(id)) return;
  takeOver(node, text(udev_device_get_sysattr_value(input, "name")), id,
           mouseDotsPerInch(text(udev_device_get_property_value(device, "MOUSE_DPI"))));
}

void EvdevTakeover::takeOver(const std::string& node, const std::string& name, UsbId id,
                             int dotsPerInch) {
  const std::string label = node + " (" + name + ")";
  UniqueFd fd(open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    reportOnce(node, "open",
               "event taps: cannot open " + label + ": " + strerror(errno) +
                   "; that mouse keeps its standard buttons and wheel");
    return;
  }
  libevdev* made = nullptr;
  int rc = libevdev_new_from_fd(fd.get(), &made);
  EvdevPtr dev(made);
  if (rc < 0) {
    reportOnce(node, "read", "event taps: cannot read " + label + ": " + errorText(rc));
    return;
  }
  auto tryAgainShortly = [&] {
    logDebug("event taps: %s has a button down; trying again shortly", label.c_str());
    // One look covers every node: with one per node, two nodes held down
    // would double the looks at every look.
    if (retryPending_) return;
    retryPending_ = true;
    timers_.runAfter("event taps retry", kHeldButtonRetry, [target = retryTarget_] {
      std::lock_guard lock(target->mutex);
      if (auto* self = target->takeover) {
        self->loop_.post([self] {
          self->retryPending_ = false;
          self->rescan();
        });
      }
    });
  };
  libevdev_set_clock_id(dev.get(), CLOCK_MONOTONIC);
  if (!isPointer(dev.get())) return;
  // Grabbed now, a held button would stay down for the system: its release
  // would only reach our copy. Wait until the buttons are up.
  if (anyKeyDown(fd.get())) {
    tryAgainShortly();
    return;
  }
  libevdev_uinput* copy = nullptr;
  rc = libevdev_uinput_create_from_device(dev.get(), LIBEVDEV_UINPUT_OPEN_MANAGED, &copy);
  EvdevUinputPtr clone(copy);
  if (rc < 0) {
    reportOnce(node, "uinput",
               "event taps: cannot make a virtual copy of " + label + " through /dev/uinput: " +
                   errorText(rc) + "; that mouse keeps its standard buttons and wheel");
    return;
  }
  const timeval grabbedAt = monotonicNow();
  rc = libevdev_grab(dev.get(), LIBEVDEV_GRAB);
  if (rc < 0) {
    reportOnce(node, "grab",
               rc == -EBUSY ? "event taps: " + label +
                                  " is held by another program; leaving that mouse to it"
                            : "event taps: cannot take over " + label + ": " + errorText(rc));
    return;
  }
  // Pressed just before the grab, a button's release would reach only the
  // copy, and the system would keep it down.
  if (anyKeyDown(fd.get())) {
    ungrab(dev.get(), label);
    tryAgainShortly();
    return;
  }
  logRepeatingFormat("took over " + node, "event taps: took over %s", label.c_str());
  std::erase_if(reported_, [&](const std::string& r) { return r.starts_with(node + " "); });
  nodeIds_[node] = id;
  loop_.addNode(
      node, label,
      std::make_unique<EvdevSource>(std::move(fd), std::move(dev), label, grabbedAt, dotsPerInch),
      std::make_unique<UinputClone>(std::move(clone)));
}

void EvdevTakeover::reportOnce(const std::string& node, const std::string& kind,
                               const std::string& line) {
  // Once until the node goes, and a node that keeps coming back is one.
  if (!reported_.insert(node + " " + kind).second) return;
  logRepeating(node + " " + kind, line);
}

}  // namespace velt
