// A HID device made in user space through /dev/uhid. The kernel treats it
// like a plugged-in device: hid-generic binds to it, hidraw and evdev nodes
// appear, and get/set report calls on its hidraw node arrive here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

struct uhid_event;

namespace velt {

enum class HidReportType : uint8_t { feature, output, input };

// "feature", "output" or "input".
const char* reportTypeName(HidReportType type);

struct UhidDeviceSetup {
  std::string name;
  std::string phys;
  // Also the serial number the host reads (HIDIOCGRAWUNIQ).
  std::string uniq;
  uint16_t bus = 0x03;  // BUS_USB
  uint32_t vendor = 0;
  uint32_t product = 0;
  uint32_t version = 0;
  std::vector<uint8_t> descriptor;
};

// How the device answers the kernel. Every callback runs on the device's
// reader thread; an unset callback answers with an I/O error (get/set) or
// ignores the report (output).
struct UhidHandlers {
  // The bytes exactly as the host's hidraw buffer receives them (report
  // number first); nullopt answers with an I/O error.
  std::function<std::optional<std::vector<uint8_t>>(uint8_t reportNumber, HidReportType type)>
      getReport;
  // data is the host's buffer, report number first. Returns true to accept.
  std::function<bool(uint8_t reportNumber, HidReportType type, std::span<const uint8_t> data)>
      setReport;
  // An output report written to the hidraw node, report number first.
  std::function<void(HidReportType type, std::span<const uint8_t> data)> output;
  // Asked at each get or set request: true leaves it unanswered, as a
  // device that has stopped talking would (the kernel gives up after 5 s).
  std::function<bool()> silent;
};

// Report descriptors of two plain devices: a mouse with five buttons, x, y
// and a wheel (signed bytes after a byte of buttons), and a boot keyboard.
extern const std::vector<uint8_t> kPlainMouseDescriptor;
extern const std::vector<uint8_t> kPlainKeyboardDescriptor;

class UhidDevice {
 public:
  // Creates the device. On failure returns nullptr and puts the reason in
  // *error ("/dev/uhid: No such file or directory").
  static std::unique_ptr<UhidDevice> create(const UhidDeviceSetup& setup, UhidHandlers handlers,
                                            std::string* error);
  // Unplugs the device and stops the reader thread.
  ~UhidDevice();
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  // Sends one input report as it travels on the wire (report id first when
  // the device numbers its input reports). False when the kernel refused it.
  bool sendInput(std::span<const uint8_t> report);

  // True between the kernel's start and stop of the device.
  bool started() const { return started_.load(); }
  // True while some reader has the device open (an evdev or hidraw client).
  bool opened() const { return opened_.load(); }

 private:
  UhidDevice(int fd, int wakeFd, UhidHandlers handlers);
  void readLoop();
  void handle(const ::uhid_event& event);
  bool write(const ::uhid_event& event);

  int fd_;
  int wakeFd_;
  UhidHandlers handlers_;
  std::atomic<bool> started_{false};
  std::atomic<bool> opened_{false};
  std::thread reader_;
};

}  // namespace velt
