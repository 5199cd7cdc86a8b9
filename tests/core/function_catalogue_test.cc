#include "core/function_catalogue.h"

#include <gtest/gtest.h>

#include <set>

namespace velt {
namespace {

TEST(FunctionCatalogue, EveryCodeOnce) {
  // The order itself shows in the slot menus and is tested there.
  ASSERT_EQ(FunctionCatalogue().size(), 39u);
  // Every action code 1 to 30 appears exactly once.
  std::multiset<int> codes;
  for (const auto& e : FunctionCatalogue()) codes.insert(e.code);
  for (int c = 0; c <= 30; ++c) EXPECT_EQ(codes.count(c), 1u) << "code " << c;
}

TEST(FunctionCatalogue, TextsThatAreEasyToGetWrong) {
  auto en = Language::English, ja = Language::Japanese, zh = Language::TraditionalChinese;
  EXPECT_EQ(functionName(10, en), "Lanuch Finder");
  EXPECT_EQ(functionName(26, zh), "放大鏡 ");  // ends with a blank
  EXPECT_EQ(functionName(26, ja), "Magnifier");
  EXPECT_EQ(functionName(5, en), "Exposé");
  EXPECT_EQ(functionName(22, ja), "ショートカットキー");
  EXPECT_EQ(functionName(29, ja), "前のスライドに戻る(Keynote)");
  EXPECT_EQ(functionName(36, zh), "-ZOOM-");
  EXPECT_EQ(functionName(38, zh), "ZOOM: 開啟/關閉視訊");
  EXPECT_EQ(functionName(31, en), "Scroll: Horizontal scrolling");
  EXPECT_EQ(functionName(39, en), "End");
  EXPECT_EQ(functionName(39, zh), "End");
}

TEST(FunctionCatalogue, Availability) {
  // Dashboard is never offered, the application grid and screenshot always.
  for (int slot = 1; slot <= 6; ++slot) {
    EXPECT_FALSE(isFunctionOffered(6, slot));
    EXPECT_TRUE(isFunctionOffered(30, slot));
    EXPECT_TRUE(isFunctionOffered(17, slot));
    EXPECT_TRUE(isFunctionOffered(13, slot));
  }
  // Pointer modes only where a button can be held.
  for (uint8_t code : {23, 24, 25, 26}) {
    for (int slot = 1; slot <= 4; ++slot) EXPECT_TRUE(isFunctionOffered(code, slot));
    EXPECT_FALSE(isFunctionOffered(code, 5));
    EXPECT_FALSE(isFunctionOffered(code, 6));
  }
  EXPECT_FALSE(isFunctionOffered(13, 0));
  EXPECT_FALSE(isFunctionOffered(13, 7));
}

}  // namespace
}  // namespace velt
