// Runs inside the test guest and proves the kernel plumbing the agent and the
// virtual mice stand on: a HID device made through /dev/uhid gets hidraw and
// event nodes, its get/set feature reports reach the uhid side and back, its
// input reports come out of hidraw and evdev, libudev's kernel monitor sees
// it come and go, and a uinput device's events can be read back.
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/e2e/guest_support.h"
#include "tools/uhid/uhid_device.h"

namespace velt::e2e {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kWait = 10s;

// Report 1: three buttons, X, Y and wheel. Report 5: a 20-byte vendor
// feature report.
const Bytes kNumberedDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01,
    0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25,
    0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0x06, 0x00, 0xFF, 0x85, 0x05, 0x09, 0x01,
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x14, 0xB1, 0x02, 0xC0};

// No report ids: three buttons, X and Y, and an 8-byte vendor feature report.
const Bytes kUnnumberedDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01,
    0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01,
    0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F,
    0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0x06, 0x00, 0xFF, 0x09, 0x01, 0x15, 0x00,
    0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02, 0xC0};

// What the uhid side saw of the host's set-report calls.
struct SetReports {
  std::mutex mutex;
  std::vector<std::pair<uint8_t, Bytes>> received;

  void add(uint8_t number, std::span<const uint8_t> data) {
    std::lock_guard lock(mutex);
    received.emplace_back(number, Bytes(data.begin(), data.end()));
  }
  std::optional<std::pair<uint8_t, Bytes>> last() {
    std::lock_guard lock(mutex);
    if (received.empty()) return std::nullopt;
    return received.back();
  }
};

std::unique_ptr<UhidDevice> plug(Markers& markers, const std::string& uniq, const Bytes& descriptor,
                                 Bytes featureAnswer, SetReports& sets) {
  UhidDeviceSetup setup;
  setup.name = "velt smoke " + uniq;
  setup.phys = "velt-e2e/" + uniq;
  setup.uniq = uniq;
  setup.vendor = 0x1209;
  setup.product = 0x0001;
  setup.descriptor = descriptor;
  UhidHandlers handlers;
  handlers.getReport = [answer = std::move(featureAnswer)](uint8_t, HidReportType type) {
    return type == HidReportType::feature ? std::optional(answer) : std::nullopt;
  };
  handlers.setReport = [&sets](uint8_t number, HidReportType, std::span<const uint8_t> data) {
    sets.add(number, data);
    return true;
  };
  std::string error;
  auto device = UhidDevice::create(setup, std::move(handlers), &error);
  markers.check(device != nullptr, "uhid create " + uniq, error);
  return device;
}

bool waitUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + kWait;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::string errnoText() {
  return std::strerror(errno);
}

// The next input report read from a hidraw node; empty after the wait.
Bytes readReport(int hidraw) {
  Bytes report(64, 0);
  pollfd fd{hidraw, POLLIN, 0};
  ssize_t n = ::poll(&fd, 1, 10000) > 0 ? ::read(hidraw, report.data(), report.size()) : -1;
  report.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return report;
}

// The numbered-report device: nodes, identity, feature reports, input.
void numberedDevice(Markers& markers) {
  UeventMonitor monitor("hidraw");
  markers.check(monitor.ok(), "libudev kernel monitor");

  Bytes answer(21, 0);
  answer[0] = 0x05;
  answer[1] = 'A';
  answer[2] = 'B';
  answer[5] = 0x42;
  SetReports sets;
  auto device = plug(markers, "smoke-numbered", kNumberedDescriptor, answer, sets);
  if (!device) return;
  markers.check(waitUntil([&] { return device->started(); }), "uhid start");

  auto nodes = waitForHidNodes("HID_UNIQ", "smoke-numbered", 1, kWait);
  if (!markers.check(nodes.has_value(), "hidraw and event nodes appear",
                     "no hidraw or event node within 10 s")) {
    return;
  }
  auto added = monitor.next(kWait);
  markers.check(added && added->rfind("add ", 0) == 0, "kernel monitor sees hidraw add",
                added.value_or("nothing"));

  int hidraw = ::open(nodes->hidraw.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (!markers.check(hidraw >= 0, "open hidraw", nodes->hidraw + ": " + errnoText())) return;

  hidraw_devinfo info{};
  markers.check(::ioctl(hidraw, HIDIOCGRAWINFO, &info) == 0 && info.vendor == 0x1209 &&
                    info.product == 0x0001,
                "hidraw ids");
  char uniq[64] = {};
  markers.check(::ioctl(hidraw, HIDIOCGRAWUNIQ(sizeof uniq), uniq) >= 0 &&
                    std::string(uniq) == "smoke-numbered",
                "hidraw serial number", uniq);
  hidraw_report_descriptor descriptor{};
  int size = 0;
  ::ioctl(hidraw, HIDIOCGRDESCSIZE, &size);
  descriptor.size = static_cast<uint32_t>(size);
  markers.check(
      ::ioctl(hidraw, HIDIOCGRDESC, &descriptor) == 0 &&
          Bytes(descriptor.value, descriptor.value + descriptor.size) == kNumberedDescriptor,
      "hidraw report descriptor");

  // A get blocks in the kernel until the uhid reader thread answers.
  Bytes got(21, 0);
  got[0] = 0x05;
  int n = ::ioctl(hidraw, HIDIOCGFEATURE(got.size()), got.data());
  markers.check(n == 21 && got == answer, "get feature report 5",
                "returned " + std::to_string(n) + ": " + hex(got));

  Bytes set = {0x05, 0x00, 0x00, 0x11, 0x11, 0x1C};
  set.resize(21, 0);
  n = ::ioctl(hidraw, HIDIOCSFEATURE(set.size()), set.data());
  auto seen = sets.last();
  markers.check(n == 21 && seen && seen->first == 0x05 && seen->second == set,
                "set feature report 5 reaches the device",
                seen ? hex(seen->second) : "nothing: " + errnoText());

  EventReader events(nodes->events.front());
  if (!markers.check(events.ok(), "open event node", events.error())) {
    ::close(hidraw);
    return;
  }
  markers.check(waitUntil([&] { return device->opened(); }), "uhid open");
  Bytes input = {0x01, 0x01, 0x05, 0x00, 0x01};
  markers.check(device->sendInput(input), "uhid input report");

  Bytes read = readReport(hidraw);
  markers.check(read == input, "input report through hidraw", hex(read));

  auto frame = events.frame(kWait);
  std::string seenEvents;
  for (const auto& event : frame) seenEvents += describe(event) + ", ";
  markers.check(contains(frame, EV_KEY, BTN_LEFT, 1) && contains(frame, EV_REL, REL_X, 5) &&
                    contains(frame, EV_REL, REL_WHEEL, 1),
                "input report through evdev", seenEvents);
  ::close(hidraw);

  device.reset();
  markers.check(waitForGone(nodes->hidraw, kWait), "hidraw node goes with the device");
  bool removed = false;
  while (auto event = monitor.next(kWait)) {
    if (event->rfind("remove ", 0) == 0) {
      removed = true;
      break;
    }
  }
  markers.check(removed, "kernel monitor sees hidraw remove");
}

// A device that numbers no reports: the host's buffer still starts with the
// report number 0, and the uhid side sees it and answers with it.
void unnumberedDevice(Markers& markers) {
  Bytes answer = {0x00, 0x49, 0x52, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00};
  SetReports sets;
  auto device = plug(markers, "smoke-unnumbered", kUnnumberedDescriptor, answer, sets);
  if (!device) return;
  auto nodes = waitForHidNodes("HID_UNIQ", "smoke-unnumbered", 1, kWait);
  if (!markers.check(nodes.has_value(), "unnumbered: nodes appear")) return;
  int hidraw = ::open(nodes->hidraw.c_str(), O_RDWR | O_CLOEXEC);
  if (!markers.check(hidraw >= 0, "unnumbered: open hidraw", errnoText())) return;

  Bytes set = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01};
  int n = ::ioctl(hidraw, HIDIOCSFEATURE(set.size()), set.data());
  auto seen = sets.last();
  markers.check(n == 9 && seen && seen->first == 0 && seen->second == set,
                "unnumbered: set feature arrives with the leading 0",
                seen ? hex(seen->second) : "nothing: " + errnoText());

  Bytes got(9, 0);
  n = ::ioctl(hidraw, HIDIOCGFEATURE(got.size()), got.data());
  markers.check(n == 9 && got == answer, "unnumbered: get feature",
                "returned " + std::to_string(n) + ": " + hex(got));

  Bytes input = {0x01, 0x02, 0xFE};
  device->sendInput(input);
  Bytes read = readReport(hidraw);
  markers.check(read == input, "unnumbered: input report has no id byte", hex(read));
  ::close(hidraw);
}

void uinputDevice(Markers& markers) {
  libevdev* prototype = libevdev_new();
  libevdev_set_name(prototype, "velt smoke keyboard");
  libevdev_enable_event_code(prototype, EV_KEY, KEY_A, nullptr);
  libevdev_enable_event_code(prototype, EV_KEY, KEY_VOLUMEUP, nullptr);
  libevdev_enable_event_code(prototype, EV_REL, REL_WHEEL, nullptr);
  libevdev_uinput* uinput = nullptr;
  int rc = libevdev_uinput_create_from_device(prototype, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput);
  libevdev_free(prototype);
  if (!markers.check(rc == 0, "uinput create", std::strerror(-rc))) return;

  const char* syspath = libevdev_uinput_get_syspath(uinput);
  auto node = syspath ? waitForEventNode(syspath, kWait) : std::nullopt;
  if (markers.check(node.has_value(), "uinput event node")) {
    EventReader reader(*node);
    markers.check(reader.ok() && reader.name() == "velt smoke keyboard", "uinput device name",
                  reader.name());
    libevdev_uinput_write_event(uinput, EV_KEY, KEY_A, 1);
    libevdev_uinput_write_event(uinput, EV_SYN, SYN_REPORT, 0);
    libevdev_uinput_write_event(uinput, EV_KEY, KEY_A, 0);
    libevdev_uinput_write_event(uinput, EV_SYN, SYN_REPORT, 0);
    auto press = reader.frame(kWait);
    auto release = reader.frame(kWait);
    markers.check(contains(press, EV_KEY, KEY_A, 1) && contains(release, EV_KEY, KEY_A, 0),
                  "uinput events read back");
    markers.check(eventNodesNamed("velt smoke keyboard") == std::vector<std::string>{*node},
                  "event node found by name");
  }
  libevdev_uinput_destroy(uinput);
}

}  // namespace
}  // namespace velt::e2e

int main() {
  velt::e2e::Markers markers;
  velt::e2e::numberedDevice(markers);
  velt::e2e::unnumberedDevice(markers);
  velt::e2e::uinputDevice(markers);
  return markers.failures() == 0 ? 0 : 1;
}
