// What the user chose: the function of every configurable button, the
// operands of recorded shortcuts, and the spotlight size. One instance per
// process. The configuration window writes it on the main thread; the device
// and action threads read it without a lock, so every field is atomic and a
// reader may see a commit half applied.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace velt {

// Function codes with a meaning of their own beyond the action table.
inline constexpr int32_t kFunctionDefault = 0;
inline constexpr int32_t kFunctionSeparator = 255;
inline constexpr int32_t kFunctionShortcut = 27;

// ShortcutModifiers bits of a recorded shortcut's op2.
enum ShortcutModifier : int32_t {
  kModControl = 1,
  kModOption = 2,
  kModCommand = 4,
  kModShift = 8,
};

struct ButtonAssignmentValue {
  int32_t code = 0;
  int32_t op1 = 0;  // code 27: the recorded virtual key code
  int32_t op2 = 0;  // code 27: the recorded ShortcutModifiers
  bool operator==(const ButtonAssignmentValue&) const = default;
};

struct ButtonAssignment {
  std::atomic<int32_t> code{0};
  std::atomic<int32_t> op1{0};
  std::atomic<int32_t> op2{0};

  ButtonAssignmentValue load() const {
    return {code.load(std::memory_order_relaxed), op1.load(std::memory_order_relaxed),
            op2.load(std::memory_order_relaxed)};
  }
  void store(const ButtonAssignmentValue& v) {
    code.store(v.code, std::memory_order_relaxed);
    op1.store(v.op1, std::memory_order_relaxed);
    op2.store(v.op2, std::memory_order_relaxed);
  }
};

inline constexpr int32_t kDefaultSpotlightSize = 310;

struct Settings {
  // Indexed by standard mouse button number (0 primary, 1 secondary, 2 wheel
  // button, 3 and up the side buttons). Entries 1 to 4 are persisted; 0 and 5
  // stay 0 so the primary button never reaches the dispatcher.
  std::array<ButtonAssignment, 12> StandardButtonAssignments;
  // Indexed by extra (vendor-coded) button number 0 to 2; entry 3 is spare.
  // Code 0 means the button's built-in function.
  std::array<ButtonAssignment, 4> ExtraButtonAssignments;
  // Bit n: standard button n has an assignment.
  std::atomic<uint8_t> interceptMask{0};
  // 4: extra button 1 has an assignment; 2: extra button 2 has one.
  std::atomic<uint8_t> hidButtonMask{0};
  // Side in points of the spotlight hole and magnifier lens.
  std::atomic<int32_t> spotlightSize{kDefaultSpotlightSize};
};

}  // namespace velt
