#include "platform/session/xkb_key_layout.h"

#include <gtest/gtest.h>

#include "actions/key_name_table.h"

namespace velt {
namespace {

TEST(XkbKeyLayout, FrenchLayoutNamesKeyZeroQ) {
  auto layout = XkbKeyLayout::fromNames("fr");
  if (!layout) GTEST_SKIP() << "no xkb layout data on this machine";
  EXPECT_EQ(layout->keyCharacter(0), "Q");
  EXPECT_EQ(layout->keyCharacter(12), "A");
  EXPECT_EQ(layout->keyCharacter(6), "W");
}

TEST(XkbKeyLayout, UsLayoutKeepsNamesOfKeysThatTypeNoCharacter) {
  auto layout = XkbKeyLayout::fromNames("us");
  if (!layout) GTEST_SKIP() << "no xkb layout data on this machine";
  EXPECT_EQ(layout->keyCharacter(0), "A");
  EXPECT_EQ(layout->keyCharacter(87), "5");  // the keypad types digits
  EXPECT_EQ(layout->keyCharacter(67), "*");
  EXPECT_EQ(layout->keyCharacter(122), "");
  EXPECT_EQ(layout->keyCharacter(200), "");
  KeyNames names = localizedKeyNames(*layout);
  for (int i = 0; i < kKeyNameCount; ++i) {
    // On the layout the codes come from only the keypad's names change, and
    // the quote key's, which types an apostrophe.
    if (KeyNameTable()[i].name.starts_with("Keypad") && KeyNameTable()[i].code != 76) continue;
    if (KeyNameTable()[i].code == 39) {
      EXPECT_EQ(names[i], "'");
      continue;
    }
    EXPECT_EQ(names[i], KeyNameTable()[i].name) << i;
  }
}

}  // namespace
}  // namespace velt
