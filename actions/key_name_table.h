// The keys a recorded shortcut can use, in the order the recorder lists them,
// with their English names and macOS virtual key codes. The virtual key codes
// are the agent's stored vocabulary for keys (button.plist "_op1" values).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velt {

struct KeyName {
  int32_t code;           // macOS virtual key code (ANSI layout)
  std::string_view name;  // English name; the recorder may replace it by the
                          // character the key gives on the user's layout
};

inline constexpr int kKeyNameCount = 91;

// The 91 keys; the table the recorder shows ends after them (code -1).
const std::array<KeyName, kKeyNameCount>& KeyNameTable();

}  // namespace velt
