#include "platform/input/uinput_output.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "actions/key_codes.h"
#include "core/log.h"
#include "platform/input/uinput_events.h"

namespace velt {
namespace {

constexpr uint16_t kVendor = 0x0000;
constexpr uint16_t kKeyboardProduct = 0x0001;
constexpr uint16_t kPointerProduct = 0x0002;

// Describes the keyboard: every key the agent can send. The libevdev object
// is only a template; the uinput device is made from it.
void describeKeyboard(libevdev* dev) {
  libevdev_set_name(dev, kVirtualKeyboardName);
  libevdev_set_id_product(dev, kKeyboardProduct);
  libevdev_enable_event_type(dev, EV_KEY);
  for (uint16_t code : virtualKeyboardKeys())
    libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
}

// Describes the pointer: the wheels with their high-resolution axes, and the
// buttons a diverted button sends where it keeps its own function. Motion
// axes are declared too, never used, so that the desktop's input stack
// classifies the device as a mouse and reads its wheels.
void describePointer(libevdev* dev) {
  libevdev_set_name(dev, kVirtualPointerName);
  libevdev_set_id_product(dev, kPointerProduct);
  libevdev_enable_property(dev, INPUT_PROP_POINTER);
  libevdev_enable_event_type(dev, EV_REL);
  for (uint16_t code : {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES}) {
    libevdev_enable_event_code(dev, EV_REL, code, nullptr);
  }
  libevdev_enable_event_type(dev, EV_KEY);
  for (uint16_t code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA}) {
    libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
  }
}

std::string nodeOf(libevdev_uinput* uinput) {
  const char* node = uinput ? libevdev_uinput_get_devnode(uinput) : nullptr;
  return node ? node : "";
}

}  // namespace

bool writeKeyReport(int fd, uint16_t evdevCode, bool down) {
  const std::array<input_event, 2> events = {inputEvent(EV_KEY, evdevCode, down ? 1 : 0),
                                             inputEvent(EV_SYN, SYN_REPORT, 0)};
  return writeEvents(fd, events);
}

bool writeScrollReport(int fd, const ScrollFrame& frame) {
  std::array<input_event, 5> events{};
  size_t n = 0;
  auto add = [&](uint16_t code, int32_t value) {
    if (value != 0) events[n++] = inputEvent(EV_REL, code, value);
  };
  add(REL_WHEEL_HI_RES, frame.verticalHiRes);
  add(REL_WHEEL, frame.verticalLines);
  add(REL_HWHEEL_HI_RES, frame.horizontalHiRes);
  add(REL_HWHEEL, frame.horizontalLines);
  events[n++] = inputEvent(EV_SYN, SYN_REPORT, 0);
  return writeEvents(fd, std::span(events.data(), n));
}

UinputOutput::UinputOutput(Clock& clock, std::string devicePath, Clock::Duration retryInterval)
    : clock_(clock), devicePath_(std::move(devicePath)), retryInterval_(retryInterval) {}

UinputOutput::~UinputOutput() {
  close();
}

bool UinputOutput::open() {
  std::lock_guard lock(mutex_);
  enabled_ = true;
  return ensureOpen();
}

void UinputOutput::close() {
  std::lock_guard lock(mutex_);
  enabled_ = false;
  closeDevices();
}

void UinputOutput::key(uint16_t evdevCode, bool down) {
  std::lock_guard lock(mutex_);
  if (!ensureOpen()) return;
  if (!writeKeyReport(keyboard_.fd.get(), evdevCode, down)) failed("the virtual keyboard");
}

void UinputOutput::scroll(const ScrollFrame& frame) {
  std::lock_guard lock(mutex_);
  if (!ensureOpen()) return;
  if (!writeScrollReport(pointer_.fd.get(), frame)) failed("the virtual pointer");
}

void UinputOutput::pointerButton(uint16_t evdevCode, bool down) {
  std::lock_guard lock(mutex_);
  if (!ensureOpen()) return;
  if (!writeKeyReport(pointer_.fd.get(), evdevCode, down)) failed("the virtual pointer");
}

int UinputOutput::openAttempts() const {
  std::lock_guard lock(mutex_);
  return attempts_;
}

std::string UinputOutput::keyboardNode() const {
  std::lock_guard lock(mutex_);
  return nodeOf(keyboard_.uinput.get());
}

std::string UinputOutput::pointerNode() const {
  std::lock_guard lock(mutex_);
  return nodeOf(pointer_.uinput.get());
}

bool UinputOutput::ensureOpen() {
  if (!enabled_) return false;
  if (keyboard_.uinput && pointer_.uinput) return true;
  const auto now = clock_.now();
  if (attempted_ && now < nextAttempt_) return false;
  attempted_ = true;
  nextAttempt_ = now + retryInterval_;
  ++attempts_;

  std::string reason;
  if (create(keyboard_, true, reason) && create(pointer_, false, reason)) {
    if (!lastFailure_.empty()) logFormat("uinput: %s usable again", devicePath_.c_str());
    lastFailure_.clear();
    logDebug("uinput: keyboard %s, pointer %s", nodeOf(keyboard_.uinput.get()).c_str(),
             nodeOf(pointer_.uinput.get()).c_str());
    return true;
  }
  closeDevices();
  if (reason != lastFailure_) {
    lastFailure_ = reason;
    const long seconds =
        static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(retryInterval_).count());
    logFormat(
        "uinput: cannot create the virtual keyboard and pointer: %s; keys, media keys and "
        "scrolling stay off until then, trying again every %ld s",
        reason.c_str(), seconds);
  }
  return false;
}

bool UinputOutput::create(Device& device, bool keyboard, std::string& reason) {
  UniqueFd fd(::open(devicePath_.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid()) {
    int error = errno;
    reason = devicePath_ + ": " + std::strerror(error) + accessHint(error);
    return false;
  }
  const char* what = keyboard ? "keyboard" : "pointer";
  EvdevPtr dev(libevdev_new());
  if (!dev) {
    reason = std::string("describing the ") + what + " failed: out of memory";
    return false;
  }
  libevdev_set_id_bustype(dev.get(), BUS_VIRTUAL);
  libevdev_set_id_vendor(dev.get(), kVendor);
  libevdev_set_id_version(dev.get(), 1);
  if (keyboard) {
    describeKeyboard(dev.get());
  } else {
    describePointer(dev.get());
  }
  libevdev_uinput* made = nullptr;
  const int result = libevdev_uinput_create_from_device(dev.get(), fd.get(), &made);
  if (result != 0) {
    reason = devicePath_ + ": creating the " + what + " failed: " + std::strerror(-result);
    return false;
  }
  device.uinput.reset(made);
  device.fd = std::move(fd);
  return true;
}

std::string UinputOutput::accessHint(int error) const {
  switch (error) {
    case EACCES:
    case EPERM:
      return " (this user may not use it: install the udev rule from README, which tags uinput "
             "with uaccess, then log in again)";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return " (the uinput kernel module is not loaded: run \"sudo modprobe uinput\" and add it "
             "to /etc/modules-load.d, see README)";
    default:
      return "";
  }
}

void UinputOutput::closeDevices() {
  for (Device* device : {&keyboard_, &pointer_}) {
    device->uinput.reset();
    device->fd.reset();
  }
}

void UinputOutput::failed(const std::string& what) {
  std::string failure = what + " failed: " + std::strerror(errno);
  if (failure != lastWriteFailure_) {
    logFormat("uinput: writing to %s; making the devices again", failure.c_str());
    lastWriteFailure_ = failure;
  }
  closeDevices();
  attempted_ = false;  // try again with the next event
}

}  // namespace velt
