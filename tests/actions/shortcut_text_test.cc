#include "actions/shortcut_text.h"

#include <gtest/gtest.h>

#include <map>

#include "core/settings.h"

namespace velt {
namespace {

class MapLayout : public KeyLayout {
 public:
  std::map<int32_t, std::string> keys;
  std::string keyCharacter(int32_t code) override {
    auto it = keys.find(code);
    return it == keys.end() ? "" : it->second;
  }
};

TEST(ShortcutText, ModifiersInFixedOrder) {
  KeyNames names = englishKeyNames();
  EXPECT_EQ(shortcutText(0, 0, names), "A");
  EXPECT_EQ(shortcutText(0, kModControl | kModOption | kModCommand | kModShift, names),
            "Ctrl+Shift+Alt+Super+A");
  EXPECT_EQ(shortcutText(8, kModCommand | kModShift, names), "Shift+Super+C");
  // Bits beyond the four modifiers are not shown.
  EXPECT_EQ(shortcutText(8, 0xF0 | kModOption, names), "Alt+C");
}

TEST(ShortcutText, UnknownKeysGiveNoText) {
  KeyNames names = englishKeyNames();
  EXPECT_EQ(shortcutText(200, kModControl, names), "");
  EXPECT_EQ(shortcutText(-1, 0, names), "");
  EXPECT_EQ(shortcutText(10, 0, names), "");  // a gap in the key codes
  EXPECT_EQ(shortcutText(122, 0, names), "F1");
}

TEST(ShortcutText, LayoutCharactersReplacePrintableNamesOnly) {
  MapLayout layout;
  layout.keys = {
      {0, "Q"},       // A on a French layout
      {12, "A"},      // and Q
      {87, "5"},      // keypad 5
      {36, "\r"},     // Enter types a control character
      {49, " "},      // Space is no name
      {117, "\x7f"},  // nor is DEL
      {50, "²"},      // a character beyond ASCII
  };
  KeyNames names = localizedKeyNames(layout);
  EXPECT_EQ(shortcutText(0, kModControl, names), "Ctrl+Q");
  EXPECT_EQ(shortcutText(12, 0, names), "A");
  EXPECT_EQ(shortcutText(87, 0, names), "5");
  EXPECT_EQ(shortcutText(36, 0, names), "Enter");
  EXPECT_EQ(shortcutText(49, 0, names), "Space");
  EXPECT_EQ(shortcutText(117, 0, names), "Forward Delete");
  EXPECT_EQ(shortcutText(50, 0, names), "²");
  EXPECT_EQ(shortcutText(122, 0, names), "F1");  // types nothing
}

}  // namespace
}  // namespace velt
