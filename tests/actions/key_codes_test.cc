#include "actions/key_codes.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "actions/key_name_table.h"

namespace velt {
namespace {

uint16_t keyNamed(std::string_view name) {
  for (const auto& k : KeyNameTable()) {
    if (k.name == name) {
      auto code = evdevKeyFor(k.code);
      EXPECT_TRUE(code) << name << " has no key";
      return code.value_or(0);
    }
  }
  ADD_FAILURE() << "no key named " << name;
  return 0;
}

TEST(KeyCodes, EveryRecorderAndMediaKeyIsOnTheVirtualKeyboard) {
  std::set<uint16_t> seen;
  std::set<std::string_view> names;
  const auto offered = virtualKeyboardKeys();
  for (const auto& k : KeyNameTable()) {
    EXPECT_TRUE(names.insert(k.name).second) << k.name << " twice";
    auto code = evdevKeyFor(k.code);
    ASSERT_TRUE(code) << k.name;
    EXPECT_TRUE(seen.insert(*code).second) << k.name << " shares its key";
    EXPECT_TRUE(std::binary_search(offered.begin(), offered.end(), *code)) << k.name;
  }
  // The recorder lists the keys in virtual key code order, F12 last.
  EXPECT_EQ(KeyNameTable()[12].name, "N");
  EXPECT_EQ(KeyNameTable()[kKeyNameCount - 1].name, "F12");

  // Which key each modifier and media function sends is checked in the
  // action engine's tests; here, that the virtual keyboard can send them.
  for (int32_t type :
       {kMediaSoundUp, kMediaSoundDown, kMediaMute, kMediaPlay, kMediaNext, kMediaPrevious}) {
    auto key = evdevMediaKeyFor(type);
    ASSERT_TRUE(key) << type;
    EXPECT_TRUE(std::binary_search(offered.begin(), offered.end(), *key)) << type;
  }
  EXPECT_FALSE(evdevMediaKeyFor(3));
}

TEST(KeyCodes, TheKeysThatTypeNoCharacter) {
  // Letters, digits and punctuation are checked against a real layout, name
  // by name, in xkb_key_layout_test; these keep their names on any layout.
  const uint16_t keypadKeys[] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                 KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
  for (int d = 0; d <= 9; ++d) {
    EXPECT_EQ(keyNamed("Keypad " + std::to_string(d)), keypadKeys[d]) << d;
  }
  const uint16_t functionKeys[] = {KEY_F1, KEY_F2, KEY_F3, KEY_F4,  KEY_F5,  KEY_F6,
                                   KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12};
  for (int f = 1; f <= 12; ++f) EXPECT_EQ(keyNamed("F" + std::to_string(f)), functionKeys[f - 1]);

  const std::map<std::string, uint16_t> named = {
      {"Left Arrow", KEY_LEFT},  {"Right Arrow", KEY_RIGHT},     {"Up Arrow", KEY_UP},
      {"Down Arrow", KEY_DOWN},  {"Keypad .", KEY_KPDOT},        {"Keypad *", KEY_KPASTERISK},
      {"Keypad +", KEY_KPPLUS},  {"Keypad -", KEY_KPMINUS},      {"Keypad /", KEY_KPSLASH},
      {"Keypad =", KEY_KPEQUAL}, {"Keypad Enter", KEY_KPENTER},  {"Enter", KEY_ENTER},
      {"Tab", KEY_TAB},          {"Space", KEY_SPACE},           {"Esc", KEY_ESC},
      {"Delete", KEY_BACKSPACE}, {"Forward Delete", KEY_DELETE}, {"Home", KEY_HOME},
      {"End", KEY_END},          {"Page Up", KEY_PAGEUP},        {"Page Down", KEY_PAGEDOWN},
      {"Caplock", KEY_CAPSLOCK},
  };
  for (const auto& [name, key] : named) EXPECT_EQ(keyNamed(name), key) << name;
}

TEST(KeyCodes, EveryVirtualKeyHasOneKeyInTheKernelsRange) {
  std::set<int32_t> virtualKeys;
  for (const auto& m : virtualKeyMappings()) {
    EXPECT_TRUE(virtualKeys.insert(m.virtualKey).second) << m.virtualKey << " twice";
    EXPECT_GT(m.evdev, 0);
    EXPECT_LT(m.evdev, KEY_CNT);
  }
  EXPECT_FALSE(evdevKeyFor(-1));
  EXPECT_FALSE(evdevKeyFor(256));
  EXPECT_FALSE(evdevKeyFor(52));  // no key on the ANSI layout
}

}  // namespace
}  // namespace velt
