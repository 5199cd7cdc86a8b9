// The default settings file and the interface texts the agent ships.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "core/plist_file.h"
#include "core/settings_store.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

TEST(ShippedSettings, DefaultButtonPlistHoldsTheKeysWithDefaults) {
  auto read = PlistDictionary::read(testing::sourceResources() / "button.plist");
  ASSERT_EQ(read.status, PlistDictionary::Status::Ok) << read.reason;
  EXPECT_EQ(read.dictionary.size(), kSettingsKeys.size());
  for (auto key : kSettingsKeys) {
    EXPECT_TRUE(read.dictionary.has(key)) << key;
    EXPECT_EQ(read.dictionary.intValue(key), key == "spotlightDim" ? 310 : 0) << key;
  }
}

TEST(ShippedTexts, EveryLanguageHasEveryText) {
  std::ifstream in(testing::sourceResources() / "language.json");
  ASSERT_TRUE(in) << "language.json is missing";
  auto json = nlohmann::json::parse(in, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << "language.json is not valid JSON";
  for (auto language : {"1033", "1041", "1028"}) {
    ASSERT_TRUE(json.contains(language) && json[language].is_object()) << language;
    for (auto key : {"button setting", "open setting", "uninstall", "exit", "button",
                     "device not found", "model", "cancel"}) {
      const auto& text = json[language][key];
      ASSERT_TRUE(text.is_string()) << language << " " << key;
      EXPECT_FALSE(text.get<std::string>().empty()) << language << " " << key;
    }
  }
}

}  // namespace
}  // namespace velt
