#include "actions/key_codes.h"

#include <algorithm>
#include <array>

namespace velt {
namespace {

// Virtual key code → evdev key code. Keys a Mac keyboard has and a PC
// keyboard lacks go to their usual PC stand-ins: Help is Insert, keypad Clear
// is Num Lock, the JIS keys are the Japanese keys.
constexpr std::array<KeyMapping, 119> kMappings{{
    {0, 30},     // A
    {1, 31},     // S
    {2, 32},     // D
    {3, 33},     // F
    {4, 35},     // H
    {5, 34},     // G
    {6, 44},     // Z
    {7, 45},     // X
    {8, 46},     // C
    {9, 47},     // V
    {10, 86},    // section sign (ISO) → 102ND
    {11, 48},    // B
    {12, 16},    // Q
    {13, 17},    // W
    {14, 18},    // E
    {15, 19},    // R
    {16, 21},    // Y
    {17, 20},    // T
    {18, 2},     // 1
    {19, 3},     // 2
    {20, 4},     // 3
    {21, 5},     // 4
    {22, 7},     // 6
    {23, 6},     // 5
    {24, 13},    // =
    {25, 10},    // 9
    {26, 8},     // 7
    {27, 12},    // -
    {28, 9},     // 8
    {29, 11},    // 0
    {30, 27},    // ]
    {31, 24},    // O
    {32, 22},    // U
    {33, 26},    // [
    {34, 23},    // I
    {35, 25},    // P
    {36, 28},    // Return
    {37, 38},    // L
    {38, 36},    // J
    {39, 40},    // '
    {40, 37},    // K
    {41, 39},    // ;
    {42, 43},    // backslash
    {43, 51},    // ,
    {44, 53},    // /
    {45, 49},    // N
    {46, 50},    // M
    {47, 52},    // .
    {48, 15},    // Tab
    {49, 57},    // Space
    {50, 41},    // `
    {51, 14},    // Delete → Backspace
    {53, 1},     // Escape
    {54, 126},   // right command → right Super
    {55, 125},   // command → Super
    {56, 42},    // shift
    {57, 58},    // caps lock
    {58, 56},    // option → Alt
    {59, 29},    // control
    {60, 54},    // right shift
    {61, 100},   // right option → right Alt
    {62, 97},    // right control
    {64, 187},   // F17
    {65, 83},    // keypad .
    {67, 55},    // keypad *
    {69, 78},    // keypad +
    {71, 69},    // keypad Clear → Num Lock
    {72, 115},   // volume up
    {73, 114},   // volume down
    {74, 113},   // mute
    {75, 98},    // keypad /
    {76, 96},    // keypad Enter
    {78, 74},    // keypad -
    {79, 188},   // F18
    {80, 189},   // F19
    {81, 117},   // keypad =
    {82, 82},    // keypad 0
    {83, 79},    // keypad 1
    {84, 80},    // keypad 2
    {85, 81},    // keypad 3
    {86, 75},    // keypad 4
    {87, 76},    // keypad 5
    {88, 77},    // keypad 6
    {89, 71},    // keypad 7
    {90, 190},   // F20
    {91, 72},    // keypad 8
    {92, 73},    // keypad 9
    {93, 124},   // JIS yen
    {94, 89},    // JIS underscore → RO
    {95, 121},   // JIS keypad comma
    {96, 63},    // F5
    {97, 64},    // F6
    {98, 65},    // F7
    {99, 61},    // F3
    {100, 66},   // F8
    {101, 67},   // F9
    {102, 123},  // JIS eisu → Hanja
    {103, 87},   // F11
    {104, 122},  // JIS kana → Hangeul
    {105, 183},  // F13
    {106, 186},  // F16
    {107, 184},  // F14
    {109, 68},   // F10
    {110, 127},  // PC menu key → Compose
    {111, 88},   // F12
    {113, 185},  // F15
    {114, 110},  // Help → Insert
    {115, 102},  // Home
    {116, 104},  // Page Up
    {117, 111},  // Forward Delete → Delete
    {118, 62},   // F4
    {119, 107},  // End
    {120, 60},   // F2
    {121, 109},  // Page Down
    {122, 59},   // F1
    {123, 105},  // Left
    {124, 106},  // Right
    {125, 108},  // Down
    {126, 103},  // Up
}};

struct MediaMapping {
  int32_t mediaKey;
  uint16_t evdev;
};

constexpr std::array<MediaMapping, 6> kMediaMappings{{
    {kMediaSoundUp, 115},    // VOLUMEUP
    {kMediaSoundDown, 114},  // VOLUMEDOWN
    {kMediaMute, 113},       // MUTE
    {kMediaPlay, 164},       // PLAYPAUSE
    {kMediaNext, 163},       // NEXTSONG
    {kMediaPrevious, 165},   // PREVIOUSSONG
}};

struct Lookup {
  std::array<uint16_t, 256> byVirtualKey{};  // 0: no key
  std::array<uint16_t, kMappings.size() + kMediaMappings.size()> keys{};
  size_t keyCount = 0;
};

const Lookup& lookup() {
  static const Lookup table = [] {
    Lookup l;
    for (const auto& m : kMappings) l.byVirtualKey[static_cast<size_t>(m.virtualKey)] = m.evdev;
    for (const auto& m : kMappings) l.keys[l.keyCount++] = m.evdev;
    for (const auto& m : kMediaMappings) l.keys[l.keyCount++] = m.evdev;
    auto* end = l.keys.data() + l.keyCount;
    std::sort(l.keys.data(), end);
    l.keyCount = static_cast<size_t>(std::unique(l.keys.data(), end) - l.keys.data());
    return l;
  }();
  return table;
}

}  // namespace

std::span<const KeyMapping> virtualKeyMappings() {
  return kMappings;
}

std::optional<uint16_t> evdevKeyFor(int32_t virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return std::nullopt;
  uint16_t code = lookup().byVirtualKey[static_cast<size_t>(virtualKey)];
  if (code == 0) return std::nullopt;
  return code;
}

uint32_t modifierFlagFor(int32_t virtualKey) {
  switch (virtualKey) {
    case kVkCommand:
      return kFlagCommand;
    case kVkShift:
      return kFlagShift;
    case kVkCapsLock:
      return kFlagCapsLock;
    case kVkOption:
      return kFlagOption;
    case kVkControl:
      return kFlagControl;
    default:
      return 0;
  }
}

std::optional<uint16_t> evdevMediaKeyFor(int32_t mediaKey) {
  for (const auto& m : kMediaMappings) {
    if (m.mediaKey == mediaKey) return m.evdev;
  }
  return std::nullopt;
}

std::span<const uint16_t> virtualKeyboardKeys() {
  const Lookup& l = lookup();
  return {l.keys.data(), l.keyCount};
}

}  // namespace velt
