#include "platform/hid/hidraw_transport.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include "core/log.h"
#include "platform/hid/crash_restore.h"

namespace velt {
namespace {

constexpr auto kSilentAfter = std::chrono::seconds(1);

}  // namespace

// One hidraw node. The node is opened for report traffic only once the
// device layer uses it, so devices it ignores are not kept awake.
struct HidrawTransport::Node {
  DeviceHandle handle = 0;
  std::string syspath;
  std::string devnode;
  bool numbered = false;
  std::atomic<bool> gone{false};
  bool subscribed = false;                      // guarded by the transport's mutex
  bool readable = true;                         // listener thread only
  uint8_t buffer[kInputReportBufferSize] = {};  // listener thread only

  // The open descriptor, or -errno. Stays open until the node is released.
  int acquire() {
    std::lock_guard lock(mutex_);
    if (!fd_.valid()) {
      fd_.reset(::open(devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
      if (!fd_.valid()) return -errno;
    }
    return fd_.get();
  }

 private:
  std::mutex mutex_;
  UniqueFd fd_;
};

namespace {

struct RawInfo {
  int32_t vendorId = 0;
  int32_t productId = 0;
  std::string serialNumber;
  std::vector<uint8_t> descriptor;
};

bool readInfoFromNode(int fd, RawInfo& out) {
  hidraw_devinfo info{};
  if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0) return false;
  out.vendorId = static_cast<uint16_t>(info.vendor);
  out.productId = static_cast<uint16_t>(info.product);
  int size = 0;
  if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) return false;
  hidraw_report_descriptor rd{};
  rd.size = static_cast<uint32_t>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
  if (ioctl(fd, HIDIOCGRDESC, &rd) < 0) return false;
  out.descriptor.assign(rd.value, rd.value + rd.size);
  char uniq[256] = {};
  if (ioctl(fd, HIDIOCGRAWUNIQ(sizeof uniq), uniq) > 0) {
    out.serialNumber.assign(uniq, strnlen(uniq, sizeof uniq));
  }
  return true;
}

// The same facts from sysfs, which needs no access to the node itself.
void readInfoFromSysfs(udev_device* device, RawInfo& out) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
  if (!hid) return;
  unsigned bus = 0, vendor = 0, product = 0;
  const char* id = udev_device_get_property_value(hid, "HID_ID");
  if (id && std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) == 3) {
    out.vendorId = static_cast<uint16_t>(vendor);
    out.productId = static_cast<uint16_t>(product);
  }
  if (const char* uniq = udev_device_get_property_value(hid, "HID_UNIQ")) out.serialNumber = uniq;
  std::ifstream in(std::string(udev_device_get_syspath(hid)) + "/report_descriptor",
                   std::ios::binary);
  std::vector<char> bytes(HID_MAX_DESCRIPTOR_SIZE + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.descriptor.assign(bytes.begin(), bytes.begin() + in.gcount());
}

}  // namespace

HidrawTransport::HidrawTransport(CrashRestore* crashRestore)
    : crashRestore_(crashRestore),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

HidrawTransport::~HidrawTransport() = default;

bool HidrawTransport::open(std::string& reason) {
  if (!wakeFd_.valid()) {
    reason = "eventfd failed";
    return false;
  }
  if (!timerFd_.valid()) {
    reason = std::string("timerfd failed: ") + std::strerror(errno);
    return false;
  }
  udev_.reset(udev_new());
  if (!udev_) {
    reason = "libudev cannot start";
    return false;
  }
  // Without udevd, listen to the kernel's own device events.
  const bool udevd = ::access("/run/udev/control", F_OK) == 0;
  const char* source = udevd ? "udev" : "kernel";
  monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), source));
  if (!monitor_) {
    reason = std::string("cannot watch ") + source + " device events: " + std::strerror(errno);
    return false;
  }
  int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "hidraw", nullptr);
  if (rc >= 0) rc = udev_monitor_enable_receiving(monitor_.get());
  if (rc < 0) {
    reason = std::string("cannot watch ") + source + " device events: " + std::strerror(-rc);
    return false;
  }
  logDebug("hidraw: watching %s device events", source);
  return true;
}

void HidrawTransport::run(HidListener& listener) {
  if (stopping_.load() || !monitor_) return;

  // Devices already attached come first; one that also shows up as a
  // hot-plug event is reported once.
  addPresentDevices(listener);
  listener.onPresentDevicesListed();
  runPosted(listener);

  // Fixed: the wake-up, the device events, the timer; then the nodes read.
  constexpr size_t kFixed = 3;
  std::vector<pollfd> fds;
  std::vector<std::shared_ptr<Node>> polled;
  while (!stopping_.load()) {
    {
      std::lock_guard lock(mutex_);
      if (pollSetChanged_) {
        pollSetChanged_ = false;
        fds = {{wakeFd_.get(), POLLIN, 0},
               {udev_monitor_get_fd(monitor_.get()), POLLIN, 0},
               {timerFd_.get(), POLLIN, 0}};
        polled.clear();
        for (auto& [handle, node] : nodes_) {
          if (!node->subscribed || !node->readable) continue;
          const int fd = node->acquire();
          if (fd < 0) continue;
          fds.push_back({fd, POLLIN, 0});
          polled.push_back(node);
        }
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      logFormat("hidraw listener stopped: poll: %s", std::strerror(errno));
      return;
    }
    uint64_t count;
    if (fds[0].revents) {
      [[maybe_unused]] ssize_t n = ::read(wakeFd_.get(), &count, sizeof count);
    }
    if (fds[2].revents) {
      [[maybe_unused]] ssize_t n = ::read(timerFd_.get(), &count, sizeof count);
      timerDue_.reset();
    }
    if (stopping_.load()) return;
    if (fds[1].revents & POLLIN) receiveMonitorEvent(listener);
    reopenRequested(listener);
    for (size_t i = kFixed; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      Node& node = *polled[i - kFixed];
      if (fds[i].revents & POLLIN) {
        readInput(node, listener);
      } else {
        node.readable = false;
        std::lock_guard lock(mutex_);
        pollSetChanged_ = true;
      }
    }
    runPosted(listener);
  }
}

void HidrawTransport::runPosted(HidListener& listener) {
  const HidListener::NextRun next = listener.runPosted();
  std::optional<Clock::TimePoint> due;
  if (next.clock) due = next.due;
  if (due == timerDue_) return;
  timerDue_ = due;
  // The steady clock is the monotonic one; a time already past (0 would
  // disarm) fires at once.
  itimerspec expiry{};
  if (due) {
    const auto ns = std::max<int64_t>(
        1, std::chrono::duration_cast<std::chrono::nanoseconds>(due->time_since_epoch()).count());
    expiry.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    expiry.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  }
  if (timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &expiry, nullptr) < 0) {
    logRepeatingFormat("hidraw timer", "hidraw listener: cannot set its timer: %s",
                       std::strerror(errno));
  }
}

void HidrawTransport::addPresentDevices(HidListener& listener) {
  UdevEnumeratePtr enumerate{udev_enumerate_new(udev_.get())};
  if (!enumerate) return;
  udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw");
  udev_enumerate_scan_devices(enumerate.get());
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    UdevDevicePtr d{udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry))};
    if (d) addDevice(d.get(), listener);
  }
}

void HidrawTransport::reopenDevice(DeviceHandle device) {
  {
    std::lock_guard lock(mutex_);
    reopen_.push_back(device);
  }
  wake();
}

void HidrawTransport::reopenAll() {
  {
    std::lock_guard lock(mutex_);
    reopenAll_ = true;
    closeAll_ = false;
  }
  wake();
}

void HidrawTransport::closeAll() {
  {
    std::lock_guard lock(mutex_);
    closeAll_ = true;
    reopenAll_ = false;
    reopen_.clear();
  }
  wake();
}

void HidrawTransport::reopenRequested(HidListener& listener) {
  std::vector<std::string> syspaths;
  bool all;
  bool close;
  {
    std::lock_guard lock(mutex_);
    // Of a close and a reopen, the one asked for last has cleared the other.
    all = std::exchange(reopenAll_, false);
    close = std::exchange(closeAll_, false);
    if (close || all) closed_ = close;
    all = all || close;
    for (const auto& [handle, node] : nodes_) {
      if (all || std::find(reopen_.begin(), reopen_.end(), handle) != reopen_.end()) {
        syspaths.push_back(node->syspath);
      }
    }
    reopen_.clear();
  }
  for (const std::string& syspath : syspaths) {
    removeDevice(syspath, listener);
    if (all) continue;
    UdevDevicePtr d{udev_device_new_from_syspath(udev_.get(), syspath.c_str())};
    if (d) addDevice(d.get(), listener);
  }
  if (all && !closed_) addPresentDevices(listener);
}

void HidrawTransport::stop() {
  stopping_.store(true);
  wake();
}

void HidrawTransport::wake() {
  if (!wakeFd_.valid()) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
}

void HidrawTransport::receiveMonitorEvent(HidListener& listener) {
  UdevDevicePtr device{udev_monitor_receive_device(monitor_.get())};
  if (!device) return;
  const char* action = udev_device_get_action(device.get());
  const char* syspath = udev_device_get_syspath(device.get());
  if (action && std::strcmp(action, "add") == 0) {
    addDevice(device.get(), listener);
  } else if (action && syspath && std::strcmp(action, "remove") == 0) {
    removeDevice(syspath, listener);
  }
}

void HidrawTransport::addDevice(udev_device* device, HidListener& listener) {
  // Closed: another session has the seat, and its mice are not ours to open.
  if (closed_) return;
  const char* syspath = udev_device_get_syspath(device);
  const char* devnode = udev_device_get_devnode(device);
  if (!syspath || !devnode) return;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, node] : nodes_) {
      if (node->syspath == syspath) return;
    }
  }
  // Sysfs first: only the nodes whose reports the listener wants are opened.
  RawInfo raw;
  readInfoFromSysfs(device, raw);
  const bool fromSysfs = !raw.descriptor.empty();
  HidDeviceInfo info =
      makeHidDeviceInfo(devnode, raw.vendorId, raw.productId, raw.serialNumber, raw.descriptor, 0);
  if (!fromSysfs || listener.wantsReports(info)) {
    UniqueFd fd(::open(devnode, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    info.openError = fd.valid() ? 0 : errno;
    // Without the descriptor in sysfs, the node's own word.
    if (!fromSysfs && fd.valid() && readInfoFromNode(fd.get(), raw)) {
      info = makeHidDeviceInfo(devnode, raw.vendorId, raw.productId, std::move(raw.serialNumber),
                               raw.descriptor, 0);
    }
  }
  auto node = std::make_shared<Node>();
  node->syspath = syspath;
  node->devnode = devnode;
  node->numbered = info.properties.numberedReports;
  node->handle = listener.newDeviceHandle();
  {
    std::lock_guard lock(mutex_);
    nodes_[node->handle] = node;
  }
  listener.onDeviceMatched(node->handle, info);
}

void HidrawTransport::removeDevice(const std::string& syspath, HidListener& listener) {
  std::shared_ptr<Node> node;
  {
    std::lock_guard lock(mutex_);
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
      if (it->second->syspath == syspath) {
        node = it->second;
        nodes_.erase(it);
        pollSetChanged_ = true;
        break;
      }
    }
  }
  if (!node) return;
  node->gone.store(true);
  if (crashRestore_) crashRestore_->forget(node->handle);
  listener.onDeviceRemoved(node->handle);
}

void HidrawTransport::readInput(Node& node, HidListener& listener) {
  if (node.gone.load()) return;
  const int fd = node.acquire();
  const ssize_t n = fd < 0 ? -1 : ::read(fd, node.buffer, sizeof node.buffer);
  if (n > 0) {
    // A short report must not show the bytes of the one before.
    std::memset(node.buffer + n, 0, sizeof node.buffer - static_cast<size_t>(n));
    listener.onInputReport(node.handle, node.numbered ? node.buffer[0] : 0, node.buffer,
                           static_cast<size_t>(n));
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  // Gone (its removal event follows) or broken: stop listening to it.
  if (const int error = errno; n < 0 && error != ENODEV) {
    logRepeatingFormat("read " + node.devnode, "hidraw: reading %s: %s", node.devnode.c_str(),
                       std::strerror(error));
  }
  node.readable = false;
  std::lock_guard lock(mutex_);
  pollSetChanged_ = true;
}

std::shared_ptr<HidrawTransport::Node> HidrawTransport::find(DeviceHandle device) {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(device);
  return it == nodes_.end() ? nullptr : it->second;
}

void HidrawTransport::subscribeInput(DeviceHandle device) {
  auto node = find(device);
  if (!node) return;
  const int fd = node->acquire();
  if (fd < 0) {
    logRepeatingFormat("open " + node->devnode, "hidraw: cannot open %s: %s", node->devnode.c_str(),
                       std::strerror(-fd));
    return;
  }
  {
    std::lock_guard lock(mutex_);
    node->subscribed = true;
    pollSetChanged_ = true;
  }
  wake();
}

void HidrawTransport::keepRestoreReports(DeviceHandle device,
                                         const std::vector<ConfigurationReport>& reports) {
  if (!crashRestore_) return;
  auto node = find(device);
  const int fd = node && !node->gone.load() ? node->acquire() : -1;
  if (reports.empty() || fd < 0) {
    crashRestore_->forget(device);
    return;
  }
  if (!crashRestore_->keep(device, fd, reports)) {
    logFormat(
        "hidraw: %s: no room to keep the reports that give its buttons back should the "
        "agent crash",
        node->devnode.c_str());
  }
}

HidResult HidrawTransport::transfer(DeviceHandle device, Transfer kind, uint8_t reportId,
                                    const uint8_t* report, uint8_t* answer, size_t length) {
  auto node = find(device);
  if (!node || node->gone.load()) return {ENODEV, 0};
  const int fd = node->acquire();
  if (fd < 0) return {-fd, 0};

  // hidraw buffers always begin with the report number; for unnumbered
  // reports that is a 0 the kernel strips before the wire.
  const size_t offset = reportId == 0 ? 1 : 0;
  // No HID report is longer than the kernel's 4096 bytes, its number
  // included; the ioctls' size field could not say much more.
  constexpr size_t kLargestBuffer = 4096;
  if (length > kLargestBuffer - offset) return {EMSGSIZE, 0};
  std::vector<uint8_t> buffer(length + offset, 0);
  if (report) std::copy_n(report, length, buffer.begin() + static_cast<std::ptrdiff_t>(offset));
  if (!buffer.empty()) buffer[0] = reportId;
  const auto started = std::chrono::steady_clock::now();
  long rc = -1;
  switch (kind) {
    case Transfer::SetFeature:
      rc = ioctl(fd, HIDIOCSFEATURE(buffer.size()), buffer.data());
      break;
    case Transfer::WriteOutput:
      rc = ::write(fd, buffer.data(), buffer.size());
      break;
    case Transfer::GetFeature:
      rc = ioctl(fd, HIDIOCGFEATURE(buffer.size()), buffer.data());
      break;
    case Transfer::GetInput:
      rc = ioctl(fd, HIDIOCGINPUT(buffer.size()), buffer.data());
      break;
  }
  if (rc < 0) {
    // The kernel gives a device that never answers a few seconds (uhid and
    // Bluetooth 5 s), then fails the request, with EIO from uhid. A failure
    // that took that long is the device's silence, whatever the code.
    const int error = errno;
    const bool late = std::chrono::steady_clock::now() - started >= kSilentAfter;
    return {late && error != ENODEV ? ETIMEDOUT : error, 0};
  }
  const auto got = static_cast<size_t>(rc);
  const size_t n = std::min(got > offset ? got - offset : 0, length);
  if (answer) std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(offset), n, answer);
  return {0, n};
}

HidResult HidrawTransport::setFeatureReport(DeviceHandle device, uint8_t reportId,
                                            std::span<const uint8_t> report) {
  return transfer(device, Transfer::SetFeature, reportId, report.data(), nullptr, report.size());
}

HidResult HidrawTransport::getFeatureReport(DeviceHandle device, uint8_t reportId,
                                            std::span<uint8_t> buffer) {
  return transfer(device, Transfer::GetFeature, reportId, nullptr, buffer.data(), buffer.size());
}

HidResult HidrawTransport::getInputReport(DeviceHandle device, uint8_t reportId,
                                          std::span<uint8_t> buffer) {
  return transfer(device, Transfer::GetInput, reportId, nullptr, buffer.data(), buffer.size());
}

HidResult HidrawTransport::writeOutputReport(DeviceHandle device, uint8_t reportId,
                                             std::span<const uint8_t> report) {
  return transfer(device, Transfer::WriteOutput, reportId, report.data(), nullptr, report.size());
}

}  // namespace velt
