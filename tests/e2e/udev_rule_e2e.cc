// The package's udev rule against a real kernel's devices, through udev's own
// rule engine (udevadm test): the user at the seat gets a supported mouse's
// hidraw and pointer nodes and /dev/uinput, and not the keyboard that a
// receiver with the mouse's ids also serves. Runs in the test guest, with the
// rule and udev's input_id rule in /usr/lib/udev/rules.d; elsewhere exits 77.
// A USB keyboard interface (boot protocol 1), which the rule leaves out of
// the hidraw grant, cannot be made through uhid: that part is not run here.
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "tests/e2e/guest_support.h"
#include "tools/uhid/uhid_device.h"
#include "tools/uhid/uhid_nodes.h"

namespace velt::e2e {
namespace {

using namespace std::chrono_literals;

const std::vector<uint8_t> kMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
    0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
const std::vector<uint8_t> kKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x06,
    0x75, 0x08, 0x25, 0x65, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

// Whether udev tags the node at syspath for the user at the seat.
bool granted(const std::string& syspath) {
  const std::string command = "udevadm test --action=add " + syspath + " 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> out(popen(command.c_str(), "r"), pclose);
  if (!out) return false;
  char line[4096];
  bool tagged = false;
  while (std::fgets(line, sizeof line, out.get())) {
    const std::string text(line);
    if (text.starts_with("TAGS=") && text.find(":uaccess:") != std::string::npos) tagged = true;
  }
  return tagged;
}

std::string sysfsOf(const std::string& node, const char* subsystem) {
  return std::string("/sys/class/") + subsystem + node.substr(node.rfind('/'));
}

}  // namespace
}  // namespace velt::e2e

int main() {
  using namespace velt;
  using namespace velt::e2e;
  struct stat st{};
  if (stat("/dev/uhid", &st) != 0 || stat("/usr/lib/udev/rules.d/70-velt-mouse-assistant.rules",
                                          &st) != 0) {
    std::printf("skipped: needs /dev/uhid and the rule installed\n");
    return 77;
  }
  Markers m;
  std::vector<std::unique_ptr<UhidDevice>> devices;
  std::vector<HidNodes> nodes;
  for (const auto& [name, descriptor] :
       {std::pair{"velt rule mouse", kMouse}, std::pair{"velt rule keyboard", kKeyboard}}) {
    UhidDeviceSetup setup;
    setup.name = setup.uniq = name;
    setup.vendor = 0x0C45;  // QR-350
    setup.product = 0x7E20;
    setup.descriptor = descriptor;
    std::string error;
    devices.push_back(UhidDevice::create(setup, {}, &error));
    auto found = waitForHidNodes("HID_UNIQ", name, 1, 10s);
    if (!m.check(devices.back() && found, std::string("plug ") + name, error)) return 1;
    nodes.push_back(*found);
  }
  m.check(granted(sysfsOf(nodes[0].hidraw, "hidraw")), "the mouse's hidraw node is granted");
  m.check(granted(sysfsOf(nodes[0].events.front(), "input")),
          "the mouse's pointer node is granted");
  m.check(!granted(sysfsOf(nodes[1].events.front(), "input")),
          "the keyboard's input node with the mouse's ids is not");
  m.check(granted("/sys/class/misc/uinput"), "/dev/uinput is granted");
  return m.failures() == 0 ? 0 : 1;
}
