#include "tools/uhid/uhid_device.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velt {

const std::vector<uint8_t> kPlainMouseDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x03, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
    0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};
const std::vector<uint8_t> kPlainKeyboardDescriptor = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x06,
    0x75, 0x08, 0x25, 0x65, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

namespace {

HidReportType typeOf(uint8_t uhidType) {
  switch (uhidType) {
    case UHID_FEATURE_REPORT:
      return HidReportType::feature;
    case UHID_OUTPUT_REPORT:
      return HidReportType::output;
    default:
      return HidReportType::input;
  }
}

template <size_t N>
void copyText(uint8_t (&field)[N], const std::string& text) {
  size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

}  // namespace

const char* reportTypeName(HidReportType type) {
  switch (type) {
    case HidReportType::feature:
      return "feature";
    case HidReportType::output:
      return "output";
    case HidReportType::input:
      return "input";
  }
  return "?";
}

std::unique_ptr<UhidDevice> UhidDevice::create(const UhidDeviceSetup& setup, UhidHandlers handlers,
                                               std::string* error) {
  auto fail = [&](std::string reason) -> std::unique_ptr<UhidDevice> {
    if (error) *error = std::move(reason);
    return nullptr;
  };
  if (setup.descriptor.empty() || setup.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
    return fail("report descriptor of " + std::to_string(setup.descriptor.size()) +
                " bytes (1 to " + std::to_string(HID_MAX_DESCRIPTOR_SIZE) + " allowed)");
  }
  int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) return fail(std::string("/dev/uhid: ") + std::strerror(errno));
  int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    std::string reason = std::string("eventfd: ") + std::strerror(errno);
    ::close(fd);
    return fail(reason);
  }

  auto event = std::make_unique<uhid_event>();
  std::memset(event.get(), 0, sizeof(uhid_event));
  event->type = UHID_CREATE2;
  auto& req = event->u.create2;
  copyText(req.name, setup.name);
  copyText(req.phys, setup.phys);
  copyText(req.uniq, setup.uniq);
  req.rd_size = static_cast<uint16_t>(setup.descriptor.size());
  req.bus = setup.bus;
  req.vendor = setup.vendor;
  req.product = setup.product;
  req.version = setup.version;
  std::memcpy(req.rd_data, setup.descriptor.data(), setup.descriptor.size());

  std::unique_ptr<UhidDevice> device(new UhidDevice(fd, wakeFd, std::move(handlers)));
  if (!device->write(*event)) {
    return fail(std::string("creating \"") + setup.name + "\": " + std::strerror(errno));
  }
  device->reader_ = std::thread([raw = device.get()] { raw->readLoop(); });
  return device;
}

UhidDevice::UhidDevice(int fd, int wakeFd, UhidHandlers handlers)
    : fd_(fd), wakeFd_(wakeFd), handlers_(std::move(handlers)) {}

UhidDevice::~UhidDevice() {
  uhid_event event{};
  event.type = UHID_DESTROY;
  write(event);
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  if (reader_.joinable()) reader_.join();
  ::close(wakeFd_);
  ::close(fd_);
}

bool UhidDevice::sendInput(std::span<const uint8_t> report) {
  if (report.size() > UHID_DATA_MAX) return false;
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<uint16_t>(report.size());
  std::copy(report.begin(), report.end(), event.u.input2.data);
  return write(event);
}

bool UhidDevice::write(const uhid_event& event) {
  // The kernel takes one whole event per write.
  ssize_t n;
  do {
    n = ::write(fd_, &event, sizeof event);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof event);
}

void UhidDevice::readLoop() {
  auto event = std::make_unique<uhid_event>();
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    ssize_t n = ::read(fd_, event.get(), sizeof(uhid_event));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    if (n >= static_cast<ssize_t>(sizeof event->type)) handle(*event);
  }
}

void UhidDevice::handle(const uhid_event& event) {
  switch (event.type) {
    case UHID_START:
      started_ = true;
      break;
    case UHID_STOP:
      started_ = false;
      break;
    case UHID_OPEN:
      opened_ = true;
      break;
    case UHID_CLOSE:
      opened_ = false;
      break;
    case UHID_OUTPUT: {
      const auto& req = event.u.output;
      if (handlers_.output) {
        size_t size = std::min<size_t>(req.size, UHID_DATA_MAX);
        handlers_.output(typeOf(req.rtype), std::span<const uint8_t>(req.data, size));
      }
      break;
    }
    case UHID_GET_REPORT: {
      if (handlers_.silent && handlers_.silent()) break;
      const auto& req = event.u.get_report;
      auto reply = std::make_unique<uhid_event>();
      std::memset(reply.get(), 0, sizeof(uhid_event));
      reply->type = UHID_GET_REPORT_REPLY;
      reply->u.get_report_reply.id = req.id;
      std::optional<std::vector<uint8_t>> data;
      if (handlers_.getReport) data = handlers_.getReport(req.rnum, typeOf(req.rtype));
      if (data && data->size() <= UHID_DATA_MAX) {
        reply->u.get_report_reply.size = static_cast<uint16_t>(data->size());
        std::copy(data->begin(), data->end(), reply->u.get_report_reply.data);
      } else {
        reply->u.get_report_reply.err = EIO;
      }
      write(*reply);
      break;
    }
    case UHID_SET_REPORT: {
      if (handlers_.silent && handlers_.silent()) break;
      const auto& req = event.u.set_report;
      size_t size = std::min<size_t>(req.size, UHID_DATA_MAX);
      bool accepted =
          handlers_.setReport && handlers_.setReport(req.rnum, typeOf(req.rtype),
                                                     std::span<const uint8_t>(req.data, size));
      uhid_event reply{};
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = req.id;
      reply.u.set_report_reply.err = accepted ? 0 : EIO;
      write(reply);
      break;
    }
    default:
      break;
  }
}

}  // namespace velt
