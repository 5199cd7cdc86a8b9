#include "actions/shortcut_text.h"

#include "core/settings.h"

namespace velt {

KeyNames englishKeyNames() {
  KeyNames names;
  for (int i = 0; i < kKeyNameCount; ++i) names[i] = KeyNameTable()[i].name;
  return names;
}

KeyNames localizedKeyNames(KeyLayout& layout) {
  KeyNames names = englishKeyNames();
  for (int i = 0; i < kKeyNameCount; ++i) {
    std::string typed = layout.keyCharacter(KeyNameTable()[i].code);
    // Control characters, space and DEL are no names; keep the English ones.
    auto first = typed.empty() ? 0u : static_cast<unsigned char>(typed[0]);
    if (first >= 33 && first != 127) names[i] = std::move(typed);
  }
  return names;
}

std::string shortcutText(int32_t keyCode, int32_t modifiers, const KeyNames& names) {
  for (int i = 0; i < kKeyNameCount; ++i) {
    if (KeyNameTable()[i].code != keyCode) continue;
    std::string text;
    if (modifiers & kModControl) text += "Ctrl+";
    if (modifiers & kModShift) text += "Shift+";
    if (modifiers & kModOption) text += "Alt+";
    if (modifiers & kModCommand) text += "Super+";
    return text + names[i];
  }
  return "";
}

}  // namespace velt
