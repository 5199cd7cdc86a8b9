// Owners for libevdev's objects: a device description, and a uinput device
// (destroyed, and its descriptor closed when libevdev opened it).
#pragma once

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <memory>

namespace velt {

struct EvdevFree {
  void operator()(libevdev* p) const { libevdev_free(p); }
  void operator()(libevdev_uinput* p) const { libevdev_uinput_destroy(p); }
};

using EvdevPtr = std::unique_ptr<libevdev, EvdevFree>;
using EvdevUinputPtr = std::unique_ptr<libevdev_uinput, EvdevFree>;

}  // namespace velt
