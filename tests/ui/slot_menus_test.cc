#include "ui/slot_menus.h"

#include <gtest/gtest.h>

#include "ui/interface_texts.h"

namespace velt {
namespace {

// The menu as one short text: codes, "|" for separators.
std::string shape(const SlotMenu& menu) {
  std::string s;
  for (const auto& e : menu) s += e.separator ? "| " : std::to_string(e.code) + " ";
  return s;
}

TEST(SlotMenus, EveryOfferedFunctionBetweenSeparatorsAndNoPointerModesOnTheLastTwo) {
  auto menus = buildSlotMenus(buildFunctionNames(kLanguageJapanese));
  const std::string head =
      "0 | 2 3 | 1 4 5 30 16 | 7 8 9 10 11 12 | 13 14 15 27 | 17 18 19 20 21 22 ";
  for (int slot = 0; slot < 6; ++slot) {
    EXPECT_EQ(shape(menus[slot]), head + (slot < 4 ? "| 23 24 | 25 26 " : "| | ") + "| 28 29 ")
        << slot + 1;
  }
  EXPECT_EQ(menus[5][0].title, "初期設定");
  EXPECT_TRUE(menus[0][1].title.empty());
  EXPECT_EQ(indexOfCode(menus[5], 27), 21);
  EXPECT_EQ(indexOfCode(menus[5], 23), -1);
}

TEST(SlotMenus, StopsAtTheEndEntry) {
  std::vector<std::string> names = {"Default", "--------", "Back", "End", "Forward"};
  auto menus = buildSlotMenus(names);
  EXPECT_EQ(shape(menus[2]), "0 | 2 ");
}

}  // namespace
}  // namespace velt
