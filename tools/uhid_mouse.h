// A plain five-button wheel mouse made through /dev/uhid, for the tests and
// benchmarks that drive the input takeover against a real kernel. It looks
// to the kernel like a USB mouse with the given ids.
#pragma once

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace velt {

class UhidMouse {
 public:
  UhidMouse(const std::string& name, uint16_t vendor, uint16_t product) {
    fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return;
    // Five buttons, then x, y and wheel as signed bytes.
    static constexpr uint8_t kDescriptor[] = {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
        0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05, 0x75, 0x01, 0x81, 0x02,
        0x95, 0x01, 0x75, 0x03, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
        0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};
    uhid_event e{};
    e.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(e.u.create2.name), sizeof e.u.create2.name, "%s",
                  name.c_str());
    e.u.create2.rd_size = sizeof kDescriptor;
    std::memcpy(e.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
    e.u.create2.bus = BUS_USB;
    e.u.create2.vendor = vendor;
    e.u.create2.product = product;
    if (write(fd_, &e, sizeof e) != sizeof e) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~UhidMouse() {
    if (fd_ < 0) return;
    uhid_event e{};
    e.type = UHID_DESTROY;
    (void)!write(fd_, &e, sizeof e);
    close(fd_);
  }
  UhidMouse(const UhidMouse&) = delete;
  UhidMouse& operator=(const UhidMouse&) = delete;

  bool ok() const { return fd_ >= 0; }

  // One input report: buttons (bit 0 left, 1 right, 2 middle, 3 and 4 the
  // side buttons), motion and wheel.
  void report(uint8_t buttons, int8_t x, int8_t y, int8_t wheel) {
    uhid_event e{};
    e.type = UHID_INPUT2;
    e.u.input2.size = 4;
    e.u.input2.data[0] = buttons;
    e.u.input2.data[1] = static_cast<uint8_t>(x);
    e.u.input2.data[2] = static_cast<uint8_t>(y);
    e.u.input2.data[3] = static_cast<uint8_t>(wheel);
    (void)!write(fd_, &e, sizeof e);
  }

 private:
  int fd_ = -1;
};

}  // namespace velt
