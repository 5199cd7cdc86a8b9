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

TEST(FunctionCatalogue, NamesSayWhatHappensOnLinux) {
  // Names of another platform's features crept in once; none may come back,
  // in any language.
  const char* const foreign[] = {"Exposé", "Dashboard", "Launchpad", "Finder", "Keynote", "struct"};
  for (int position = 0; position < kFunctionCatalogueSize; ++position) {
    for (auto language : {Language::English, Language::Japanese, Language::TraditionalChinese}) {
      const std::string_view name = functionName(position, language);
      EXPECT_FALSE(name.empty()) << "position " << position;
      for (const char* word : foreign) {
        EXPECT_EQ(name.find(word), std::string_view::npos) << name;
      }
    }
  }
  EXPECT_EQ(functionName(36, Language::TraditionalChinese), "-ZOOM-");
  EXPECT_EQ(functionName(39, Language::English), "End");
  EXPECT_EQ(functionName(39, Language::TraditionalChinese), "End");
}

TEST(FunctionCatalogue, Availability) {
  // Code 6 is never offered, the application grid and screenshot always.
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
