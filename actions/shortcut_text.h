// Recorded shortcuts as the user reads them: the key names of the recorder
// on the user's keyboard layout, and the "Ctrl+Shift+Alt+Super+A" text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "actions/key_name_table.h"

namespace velt {

// The character a key gives on the current keyboard layout.
class KeyLayout {
 public:
  virtual ~KeyLayout() = default;
  // What the key with this macOS virtual key code types without modifiers,
  // upper-cased; "" when it types nothing (dead keys, function keys) or the
  // code is unknown.
  virtual std::string keyCharacter(int32_t virtualKeyCode) = 0;
};

// The names of KeyNameTable(), in its order, for the user's layout: a key that
// types a printable character is named by it ("Q" for code 0 on a French
// layout); the others keep their English names ("Enter", "F1").
using KeyNames = std::array<std::string, kKeyNameCount>;
KeyNames englishKeyNames();
KeyNames localizedKeyNames(KeyLayout& layout);

// The text of a recorded shortcut: the modifiers in the order Ctrl, Shift,
// Alt, Super, each followed by "+", then the key's name. "" when the code is
// not one of the recorder's keys.
std::string shortcutText(int32_t keyCode, int32_t modifiers, const KeyNames& names);

}  // namespace velt
