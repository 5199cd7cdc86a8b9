#include "tests/e2e/guest_mice.h"

#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <thread>

#include "device/vendor_reports.h"
#include "tools/mouse_sim/sim_commands.h"

namespace velt::e2e {
namespace {

ReceivedReport feature(uint8_t reportId, Bytes bytes) {
  return {VirtualReportKind::Feature, reportId, std::move(bytes)};
}

}  // namespace

std::vector<ReceivedReport> configurationPass(int type, uint8_t m, uint8_t h, uint8_t sequence) {
  // The pass advances the sequence before it uses it.
  uint8_t before = sequence - 1;
  std::vector<ReceivedReport> pass;
  for (auto& r : configurationReports(type, m, h, before)) {
    pass.push_back(feature(r.reportId, std::move(r.bytes)));
  }
  return pass;
}

size_t configurationPassLength(int type) {
  return configurationPass(type, 0, 0, 0xE0).size();
}

bool configurable(const VirtualMouse& mouse) {
  return configurationPassLength(mouse.type) > 0;
}

std::vector<ReceivedReport> handshakeOf(const VirtualMouse& mouse) {
  switch (mouse.type) {
    case 1:
      return {feature(0, type1Request()), feature(0, type1FollowUp())};
    case 6:
      // Its first answer is empty, so the request is sent once.
      return {feature(kType6ReportId, type6Request(35))};  // its output report, id included
    default:
      return {};
  }
}

std::vector<ReceivedReport> handshakeAgainOf(const VirtualMouse& mouse) {
  return mouse.type == 6 ? std::vector<ReceivedReport>{} : handshakeOf(mouse);
}

std::string describe(const std::vector<ReceivedReport>& reports) {
  std::string text;
  for (const auto& r : reports) text += (text.empty() ? "" : "; ") + describe(r);
  return text.empty() ? "nothing" : text;
}

namespace {

// Whether received is handshake followed by passes (at least one) with
// masks m and h.
bool isConfiguration(const std::vector<ReceivedReport>& received,
                     const std::vector<ReceivedReport>& handshake, int type, uint8_t m, uint8_t h) {
  const size_t pass = configurationPassLength(type);
  bool ok = pass > 0 && received.size() >= handshake.size() + pass &&
            (received.size() - handshake.size()) % pass == 0 &&
            std::equal(handshake.begin(), handshake.end(), received.begin());
  for (size_t at = handshake.size(); ok && at + pass <= received.size(); at += pass) {
    uint8_t sequence = 0xE0;
    if (type == 1) {
      sequence = received[at + 2].bytes.size() > 1 ? received[at + 2].bytes[1] : 0;
      ok = (sequence & 0xF0) == 0xE0;
    }
    const auto expected = configurationPass(type, m, h, sequence);
    ok = ok && std::equal(expected.begin(), expected.end(), received.begin() + at);
  }
  return ok;
}

}  // namespace

bool checkConfiguration(Markers& markers, const std::string& what,
                        const std::vector<ReceivedReport>& received,
                        const std::vector<ReceivedReport>& handshake, int type, uint8_t m,
                        uint8_t h) {
  return markers.check(isConfiguration(received, handshake, type, m, h), what,
                       "received " + describe(received) + "; expected " + describe(handshake) +
                           " then passes of " + describe(configurationPass(type, m, h, 0xE1)));
}

bool checkRestored(Markers& markers, const std::string& what,
                   const std::vector<ReceivedReport>& received,
                   const std::vector<ReceivedReport>& handshake, int type) {
  const bool once = received.size() == handshake.size() + configurationPassLength(type);
  return markers.check(once && isConfiguration(received, handshake, type, 0, 0), what,
                       "received " + describe(received) + "; expected " + describe(handshake) +
                           " then one pass of " + describe(configurationPass(type, 0, 0, 0xE1)));
}

bool plugMice(Markers& markers, const std::vector<const VirtualMouse*>& models, Mice& mice) {
  for (const VirtualMouse* model : models) {
    std::string error;
    auto mouse = UhidMouse::plug(*model, commandName(*model), nullptr, &error);
    if (!markers.check(mouse != nullptr, "plugged " + model->model, error)) return false;
    for (size_t i = 0; i < model->interfaces.size(); ++i) {
      if (!mouse->nodes(i, 0, std::chrono::seconds(10))) {
        markers.fail("hidraw node of " + model->model, "none appeared for " + mouse->phys(i));
        return false;
      }
    }
    mice[commandName(*model)] = std::move(mouse);
  }
  return true;
}

void waitForQuiet(const Mice& mice, std::chrono::milliseconds quiet) {
  auto count = [&] {
    size_t n = 0;
    for (const auto& [name, m] : mice) {
      for (size_t i = 0; i < m->description().interfaces.size(); ++i) n += m->received(i).size();
    }
    return n;
  };
  size_t last = count();
  for (int round = 0; round < 60; ++round) {
    std::this_thread::sleep_for(quiet);
    size_t now = count();
    if (now == last) return;
    last = now;
  }
}

bool expectConfigured(Markers& markers, const Mice& mice, const std::string& what, bool again,
                      uint8_t m, uint8_t h) {
  auto asked = [again](const VirtualMouse& d) {
    return again ? handshakeAgainOf(d) : handshakeOf(d);
  };
  for (const auto& [name, mouse] : mice) {
    const VirtualMouse& d = mouse->description();
    if (configurable(d)) {
      mouse->waitForReceived(0, asked(d).size() + configurationPassLength(d.type),
                             std::chrono::seconds(60));
    }
  }
  waitForQuiet(mice, std::chrono::milliseconds(1500));
  bool all = true;
  for (const auto& [name, mouse] : mice) {
    const VirtualMouse& d = mouse->description();
    if (configurable(d)) {
      all &= checkConfiguration(markers, what + ": " + name, mouse->received(0), asked(d), d.type,
                                m, h);
    }
  }
  return all;
}

std::vector<KeyEvent> readKeys(EventReader& reader, size_t count,
                               std::chrono::milliseconds timeout) {
  std::vector<KeyEvent> keys;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (keys.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    // With no time left, what is already queued still counts.
    auto event = reader.next(std::max(left, std::chrono::milliseconds(0)));
    if (!event) break;
    if (event->type == EV_KEY && event->value != 2) keys.emplace_back(event->code, event->value);
  }
  return keys;
}

std::string describe(const std::vector<KeyEvent>& keys) {
  std::string text;
  for (const auto& [code, value] : keys) {
    const char* name = libevdev_event_code_get_name(EV_KEY, code);
    text +=
        (text.empty() ? "" : ", ") + std::string(name ? name : "?") + " " + std::to_string(value);
  }
  return text.empty() ? "no keys" : text;
}

bool expectKeys(Markers& markers, EventReader& reader, const std::string& what,
                const std::vector<KeyEvent>& expected, std::chrono::milliseconds timeout) {
  auto keys = readKeys(reader, expected.size(), timeout);
  return markers.check(keys == expected, what,
                       "got " + describe(keys) + "; expected " + describe(expected));
}

}  // namespace velt::e2e
