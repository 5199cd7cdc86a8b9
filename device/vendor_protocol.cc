#include "device/vendor_protocol.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "core/number_text.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

constexpr int kHandshakeAttempts = 5;
constexpr Clock::Duration kType1SettlePause = 2ms;
constexpr Clock::Duration kType6RetryPause = 40ms;
constexpr Clock::Duration kType2RetryPause = 20ms;

// Report traffic with one device, hex-dumped at the debug level.
class ReportChannel {
 public:
  ReportChannel(HidTransport& transport, DeviceHandle device, const std::string& label)
      : transport_(transport), device_(device), label_(label) {}

  HidResult setFeature(uint8_t id, std::span<const uint8_t> report) {
    dump("set feature", id, report);
    return transport_.setFeatureReport(device_, id, report);
  }
  HidResult getFeature(uint8_t id, std::span<uint8_t> buffer) {
    HidResult r = transport_.getFeatureReport(device_, id, buffer);
    dump("get feature", id, buffer.first(std::min(r.length, buffer.size())));
    return r;
  }
  HidResult getInput(uint8_t id, std::span<uint8_t> buffer) {
    HidResult r = transport_.getInputReport(device_, id, buffer);
    dump("get input", id, buffer.first(std::min(r.length, buffer.size())));
    return r;
  }

 private:
  void dump(const char* what, uint8_t id, std::span<const uint8_t> bytes) {
    if (!debugLogging()) return;
    char label[160];
    std::snprintf(label, sizeof label, "%s %u %s", what, id, label_.c_str());
    logHexDump(label, bytes.data(), bytes.size());
  }

  HidTransport& transport_;
  DeviceHandle device_;
  const std::string& label_;
};

class Handshake {
 public:
  Handshake(DeviceHandle device, const HidDeviceInfo& info, HandshakeContext& context,
            const SubmitIdentification& submit)
      : device_(device),
        p_(info.properties),
        context_(context),
        submit_(submit),
        label_(describeHidDevice(info)),
        channel_(context.transport, device, label_) {}

  void type1() {
    if (over() || over(channel_.setFeature(0, type1Request()))) return;
    std::array<uint8_t, 32> answer{};
    HidResult r = channel_.getFeature(0, std::span(answer).first(kType1AnswerLength));
    if (over(r)) return;
    int32_t model = 0;
    if (isIdentificationAnswer(kDeviceType1, answer)) {
      model = answeredModel(kDeviceType1, answer);
    } else {
      noAnswer("IR", r, "taken as model 0");
    }
    submit(kDeviceType1, model, /*noInput=*/true);
    if (over() || over(channel_.setFeature(0, type1FollowUp()))) return;
    context_.clock.sleepFor(kType1SettlePause);
  }

  void type6() {
    submit(kDeviceType6, 0, false);
    const size_t inSize = std::max<int32_t>(p_.maxInputReportSize, 1);
    const ReportBytes request = type6Request(std::max<int32_t>(p_.maxOutputReportSize, 1));
    std::vector<uint8_t> answer(std::max<size_t>(inSize, 64), 0);
    answer[0] = kType6ReportId;
    bool answered = false;
    HidResult r;
    for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
      if (over()) return;
      r = channel_.getInput(kType6ReportId, std::span(answer).first(inSize));
      if (over(r)) return;
      if (isIdentificationAnswer(kDeviceType6, answer)) {
        answered = true;
        break;
      }
      if (over(channel_.setFeature(kType6ReportId, request))) return;
      context_.clock.sleepFor(kType6RetryPause);
    }
    if (!answered) noAnswer("BT", r, "model number left as read");
    submit(kDeviceType6, answeredModel(kDeviceType6, answer), false);
  }

  void type10() {
    std::array<uint8_t, kType10AnswerLength> answer{};
    if (over()) return;
    HidResult r = channel_.getFeature(0, answer);
    if (over(r)) return;
    if (!isIdentificationAnswer(kDeviceType10, answer)) {
      noAnswer("AM", r, "ignored");
      return;
    }
    submit(kDeviceType10, answeredModel(kDeviceType10, answer), false);
  }

  void type2() {
    const std::string& serial = p_.serialNumber;
    int32_t model = 0;
    // A serial number too short to carry a model number counts as absent.
    const bool fromSerial = serial.size() >= 6 && serial.compare(0, 2, "AB") == 0;
    if (fromSerial) model = static_cast<int32_t>(scanHex(serial.substr(4, 2)).value_or(0));

    std::lock_guard probe(context_.probeLock);
    if (!fromSerial) {
      std::array<uint8_t, 64> answer{};
      answer[0] = kType2ReportId;
      const ReportBytes request = type2Request();
      bool answered = false;
      HidResult r;
      for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
        if (over()) return;
        r = channel_.getFeature(kType2ReportId, std::span(answer).first(kType2AnswerLength));
        if (over(r)) return;
        if (isIdentificationAnswer(kDeviceType2, answer)) {
          model = answeredModel(kDeviceType2, answer);
          answered = true;
          break;
        }
        if (over(channel_.setFeature(kType2ReportId, request))) return;
        context_.clock.sleepFor(kType2RetryPause);
      }
      if (!answered) {
        noAnswer("AB", r, "ignored");
        return;
      }
    }
    submit(kDeviceType2, model, false);
  }

  void submit(int32_t type, int32_t modelId, bool noInput) {
    submit_(DeviceIdentity{device_, type, modelId, p_.vendorId, p_.productId, noInput});
  }

  HandshakeEnd end() const { return end_; }

 private:
  // Whether the agent is quitting: no further request then.
  bool over() {
    if (!context_.stopping || !context_.stopping->load()) return false;
    end_ = HandshakeEnd::Stopped;
    return true;
  }
  // Whether r ends the handshake: the device has gone, or it did not answer
  // in time, so asking again would only wait as long once more.
  bool over(const HidResult& r) {
    if (r.error == ENODEV) {
      logRepeatingFormat(label_ + " gone", "%s went away during identification (%s)",
                         label_.c_str(), std::strerror(r.error));
      end_ = HandshakeEnd::Gone;
      return true;
    }
    if (r.error == ETIMEDOUT) {
      logRepeatingFormat(label_ + " silent", "%s does not answer (%s); identification ends",
                         label_.c_str(), std::strerror(r.error));
      end_ = HandshakeEnd::Silent;
      return true;
    }
    return false;
  }

  void noAnswer(const char* expected, const HidResult& last, const char* outcome) {
    if (last.ok()) {
      logRepeatingFormat(label_ + " no answer",
                         "%s did not answer the identification request with \"%s\"; %s",
                         label_.c_str(), expected, outcome);
    } else {
      logRepeatingFormat(label_ + " no answer",
                         "%s did not answer the identification request (%s); %s", label_.c_str(),
                         std::strerror(last.error), outcome);
    }
  }

  DeviceHandle device_;
  const HidProperties& p_;
  HandshakeContext& context_;
  const SubmitIdentification& submit_;
  std::string label_;
  ReportChannel channel_;
  HandshakeEnd end_ = HandshakeEnd::Done;
};

}  // namespace

bool asksTheDevice(DeviceKind kind) {
  switch (kind) {
    case DeviceKind::Type1Mouse:
    case DeviceKind::Type2:
    case DeviceKind::Type6:
    case DeviceKind::Type10:
      return true;
    default:
      return false;
  }
}

std::string describeHidDevice(const HidDeviceInfo& info) {
  char ids[24];
  std::snprintf(ids, sizeof ids, " (%04X:%04X)", static_cast<unsigned>(info.properties.vendorId),
                static_cast<unsigned>(info.properties.productId));
  return info.name + ids;
}

HandshakeEnd identifyDevice(DeviceKind kind, DeviceHandle device, const HidDeviceInfo& info,
                            HandshakeContext& context, const SubmitIdentification& submit) {
  Handshake handshake(device, info, context, submit);
  switch (kind) {
    case DeviceKind::Type1Mouse:
      handshake.type1();
      break;
    case DeviceKind::Type1Input:
      handshake.submit(kDeviceType1, kAnyModel, false);
      break;
    case DeviceKind::Type2:
      handshake.type2();
      break;
    case DeviceKind::Type6:
      handshake.type6();
      break;
    case DeviceKind::Type7:
      handshake.submit(kDeviceType7, 0, false);
      break;
    case DeviceKind::Type10:
      handshake.type10();
      break;
    case DeviceKind::Ignored:
    case DeviceKind::OtherMouse:
      break;
  }
  return handshake.end();
}

uint8_t swapButtons45(uint8_t mask) {
  return static_cast<uint8_t>((mask & 0xE7) | ((mask & 0x08) << 1) | ((mask & 0x10) >> 1));
}

uint8_t configurationMask(int32_t type, int32_t modelButtonMask, uint8_t interceptMask,
                          int32_t swap45) {
  auto m = static_cast<uint8_t>(modelButtonMask & interceptMask);
  if (type == kDeviceType2 && swap45 != 0) m = swapButtons45(m);
  return m;
}

bool isConfigurable(int32_t type, int32_t modelId) {
  return type >= 1 && type <= 10 && modelId != kAnyModel;
}

}  // namespace velt
