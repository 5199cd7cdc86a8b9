#include "ui/interface_texts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace velt {
namespace {

// Each language has every text and none empty: a missing one would show in
// English there.
TEST(LanguageChoice, TheShippedFileHasEveryTextInEachLanguage) {
  std::ifstream in(testing::sourceResources() / "language.json");
  const auto json = nlohmann::json::parse(in, nullptr, false);
  const UiStrings english = builtInEnglishStrings();
  for (auto language : {"1033", "1041", "1028"}) {
    ASSERT_TRUE(json.contains(language) && json[language].is_object()) << language;
    EXPECT_EQ(json[language].size(), english.size()) << language;
    for (const auto& [key, text] : json[language].items()) {
      EXPECT_NE(english.text(key), key) << language << ": no text is called " << key;
      EXPECT_TRUE(text.is_string() && !text.get<std::string>().empty()) << language << " " << key;
    }
  }
}

TEST(LanguageChoice, ByMeaningNotSpelling) {
  struct Case {
    const char* preferred;
    int32_t id;
  } cases[] = {
      {"ja_JP.UTF-8", 1041}, {"ja", 1041},         {"ja-JP", 1041},      {"zh_TW.UTF-8", 1028},
      {"zh-TW", 1028},       {"zh-Hant-TW", 1028}, {"zh_TW@euro", 1028}, {"zh_HK.UTF-8", 1033},
      {"zh-Hant-HK", 1033},  {"zh-Hant", 1033},    {"zh-Hans-TW", 1033}, {"zh_CN", 1033},
      {"de_DE.UTF-8", 1033}, {"en-GB", 1033},      {"", 1033},           {"C", 1033},
      {"jav", 1033},
  };
  for (const auto& c : cases) EXPECT_EQ(chooseLanguageId(c.preferred), c.id) << c.preferred;
}

TEST(LanguageChoice, FunctionNamesFollowTheLanguage) {
  // Japanese and English show in the slot menus' tests.
  EXPECT_EQ(buildFunctionNames(1028)[0], "預設值");
  EXPECT_EQ(buildFunctionNames(4242), buildFunctionNames(1033));
}

TEST(UiStringsFile, ReadsTheChosenLanguage) {
  testing::CaptureLog log;
  auto strings = parseUiStrings(
      R"({"1033": {"exit": "Quit", "button": "Button"},
          "1041": {"exit": "終了", "button": "ボタン"}})",
      1041, "language.json");
  EXPECT_EQ(strings.text("exit"), "終了");
  EXPECT_EQ(strings.text("button"), "ボタン");
  // A key the language lacks falls back to the built-in English text.
  EXPECT_EQ(strings.text("cancel"), "Cancel");
  EXPECT_EQ(log.lines().size(), 0u);
}

TEST(UiStringsFile, BrokenOrMissingFilesFallBackWithOneLine) {
  testing::TempDir dir;
  {
    testing::CaptureLog log;
    auto strings = loadUiStrings(dir / "language.json", 1033);
    EXPECT_EQ(strings.text("uninstall"), "Uninstall");
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.count("language.json"), 1u);
  }
  for (const char* broken : {"{\"1033\": {\"exit\": ", "[1, 2]", "", "\xff\xfe"}) {
    testing::writeFile(dir / "broken.json", broken);
    testing::CaptureLog log;
    auto strings = loadUiStrings(dir / "broken.json", 1041);
    EXPECT_EQ(strings.text("exit"), builtInEnglishStrings().text("exit")) << broken;
    EXPECT_EQ(log.lines().size(), 1u) << broken;
  }
  {
    // No Japanese texts: the file's English ones.
    testing::CaptureLog log;
    auto strings = parseUiStrings(R"({"1033": {"exit": "Leave"}, "1041": "oops"})", 1041, "f");
    EXPECT_EQ(strings.text("exit"), "Leave");
    EXPECT_EQ(log.lines().size(), 1u);
  }
  // Values that are not texts are skipped.
  auto strings = parseUiStrings(R"({"1033": {"exit": 5, "model": "Type"}})", 1033, "f");
  EXPECT_EQ(strings.text("exit"), builtInEnglishStrings().text("exit"));
  EXPECT_EQ(strings.text("model"), "Type");
}

}  // namespace
}  // namespace velt
