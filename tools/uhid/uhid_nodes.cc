#include "tools/uhid/uhid_nodes.h"

#include <libudev.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace velt {
namespace {

using Clock = std::chrono::steady_clock;

bool exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

// Calls visit(device) for each device of the subsystem.
template <typename Visit>
void forEachDevice(udev* context, const char* subsystem, Visit visit) {
  udev_enumerate* enumerate = udev_enumerate_new(context);
  if (!enumerate) return;
  udev_enumerate_add_match_subsystem(enumerate, subsystem);
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (!device) continue;
    visit(device);
    udev_device_unref(device);
  }
  udev_enumerate_unref(enumerate);
}

bool hidPropertyIs(udev_device* device, const char* key, std::string_view value) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
  if (!hid) return false;
  const char* actual = udev_device_get_property_value(hid, key);
  return actual && value == actual;
}

}  // namespace

std::optional<HidNodes> waitForHidNodes(const char* key, std::string_view value, size_t eventCount,
                                        std::chrono::milliseconds timeout) {
  udev* context = udev_new();
  if (!context) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  std::optional<HidNodes> result;
  for (;;) {
    HidNodes nodes;
    forEachDevice(context, "hidraw", [&](udev_device* device) {
      const char* node = udev_device_get_devnode(device);
      if (node && hidPropertyIs(device, key, value)) nodes.hidraw = node;
    });
    forEachDevice(context, "input", [&](udev_device* device) {
      const char* node = udev_device_get_devnode(device);
      const char* name = udev_device_get_sysname(device);
      if (node && name && std::strncmp(name, "event", 5) == 0 &&
          hidPropertyIs(device, key, value)) {
        nodes.events.push_back(node);
      }
    });
    bool ready = !nodes.hidraw.empty() && nodes.events.size() >= eventCount && exists(nodes.hidraw);
    for (const auto& event : nodes.events) ready = ready && exists(event);
    if (ready) {
      result = std::move(nodes);
      break;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  udev_unref(context);
  return result;
}

}  // namespace velt
