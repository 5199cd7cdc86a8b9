#include "core/function_catalogue.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

// Which codes each slot offers, and in what order, shows in the slot menus
// and is tested there.

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
  EXPECT_EQ(functionName(39, Language::English), "End");
  EXPECT_EQ(functionName(39, Language::TraditionalChinese), "End");
}

}  // namespace
}  // namespace velt
