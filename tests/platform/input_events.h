// Building evdev events and frames in tests.
#pragma once

#include <linux/input.h>

#include <initializer_list>
#include <ostream>
#include <vector>

#include "platform/input/uinput_events.h"

// Events compare by what they say, not when.
inline bool operator==(const input_event& a, const input_event& b) {
  return a.type == b.type && a.code == b.code && a.value == b.value;
}

inline void PrintTo(const input_event& e, std::ostream* os) {
  *os << "{" << e.type << " " << e.code << " " << e.value << "}";
}

namespace velt::testing {

using Events = std::vector<input_event>;

inline input_event rel(uint16_t code, int32_t value) {
  return inputEvent(EV_REL, code, value);
}
inline input_event key(uint16_t code, int32_t value) {
  return inputEvent(EV_KEY, code, value);
}
inline input_event scan(int32_t usage) {
  return inputEvent(EV_MSC, MSC_SCAN, usage);
}
inline input_event report() {
  return inputEvent(EV_SYN, SYN_REPORT, 0);
}

// The events followed by a SYN_REPORT.
inline Events frame(std::initializer_list<input_event> events) {
  Events out(events);
  out.push_back(report());
  return out;
}

// Event lists one after another.
inline Events joined(std::initializer_list<Events> parts) {
  Events out;
  for (const Events& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace velt::testing
