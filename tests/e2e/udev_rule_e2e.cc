// The package's udev rule against a real kernel's devices, through udev's own
// rule engine (udevadm test): the user at the seat gets a supported mouse's
// hidraw and pointer nodes and /dev/uinput, and not the keyboard that a
// receiver with the mouse's ids also serves. Runs in the test guest, with the
// rule and udev's input_id rule in /usr/lib/udev/rules.d; elsewhere exits 77.
// A USB keyboard interface (boot protocol 1), which the rule leaves out of
// the hidraw grant, cannot be made through uhid: that part is not run here.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "tests/e2e/guest_support.h"
#include "tools/uhid/uhid_device.h"
#include "tools/uhid/uhid_nodes.h"

// Whether udev tags the node (/dev/...) for the user at the seat.
bool granted(const std::string& node, const char* subsystem) {
  const std::string command = std::string("udevadm test --action=add /sys/class/") + subsystem +
                              node.substr(node.rfind('/')) + " 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> out(popen(command.c_str(), "r"), pclose);
  char line[4096];
  while (out && std::fgets(line, sizeof line, out.get())) {
    if (std::string_view(line).starts_with("TAGS=") && std::strstr(line, ":uaccess:")) return true;
  }
  return false;
}

int main() {
  using namespace velt;
  if (access("/dev/uhid", W_OK) != 0 ||
      access("/usr/lib/udev/rules.d/70-velt-mouse-assistant.rules", R_OK) != 0) {
    std::printf("skipped: needs /dev/uhid and the rule installed\n");
    return 77;
  }
  e2e::Markers m;
  std::vector<std::unique_ptr<UhidDevice>> devices;
  std::vector<HidNodes> nodes;
  for (const auto* descriptor : {&kPlainMouseDescriptor, &kPlainKeyboardDescriptor}) {
    UhidDeviceSetup setup;  // with the QR-350's ids
    setup.name = setup.uniq = "velt rule " + std::to_string(devices.size());
    setup.vendor = 0x0C45;
    setup.product = 0x7E20;
    setup.descriptor = *descriptor;
    std::string error;
    devices.push_back(UhidDevice::create(setup, {}, &error));
    auto found = waitForHidNodes("HID_UNIQ", setup.uniq, 1, std::chrono::seconds(10));
    if (!m.check(devices.back() && found, "plug " + setup.name, error)) return 1;
    nodes.push_back(*found);
  }
  m.check(granted(nodes[0].hidraw, "hidraw"), "the mouse's hidraw node is granted");
  m.check(granted(nodes[0].events.front(), "input"), "the mouse's pointer node is granted");
  m.check(!granted(nodes[1].events.front(), "input"), "a keyboard with the mouse's ids is not");
  m.check(granted("/dev/uinput", "misc"), "/dev/uinput is granted");
  return m.failures() == 0 ? 0 : 1;
}
