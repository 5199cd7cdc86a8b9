// The interface language and its texts: chosen once at start-up from the
// user's first preferred language, read from language.json.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/function_catalogue.h"

namespace velt {

inline constexpr int32_t kLanguageEnglish = 1033;
inline constexpr int32_t kLanguageJapanese = 1041;
inline constexpr int32_t kLanguageTraditionalChinese = 1028;

// 1041 for Japanese, 1028 for Traditional Chinese as written in Taiwan, 1033
// for everything else. Accepts the spellings of locales ("zh_TW.UTF-8") and
// of language tags ("zh-Hant-TW", "zh-TW").
int32_t chooseLanguageId(std::string_view preferredLanguage);

Language catalogueLanguage(int32_t languageId);

// The texts of one language, looked up by their English keys ("open setting").
class UiStrings {
 public:
  UiStrings() = default;
  explicit UiStrings(std::map<std::string, std::string> texts) : texts_(std::move(texts)) {}
  // The text under key; the built-in English text when the file has none.
  std::string text(std::string_view key) const;
  size_t size() const { return texts_.size(); }

 private:
  std::map<std::string, std::string> texts_;
};

// The built-in English texts, used when language.json cannot be read.
UiStrings builtInEnglishStrings();

// Reads the texts of languageId from language.json. When the file is missing
// or broken, or has no texts for the language, logs one line naming the file
// and the reason and falls back: to the file's English texts, then to the
// built-in ones.
UiStrings loadUiStrings(const std::filesystem::path& languageFile, int32_t languageId);
// The same over the file's contents; source names it in the log line.
UiStrings parseUiStrings(std::string_view json, int32_t languageId, std::string_view source);

// The catalogue's function names in the language, position by position, up
// to and including the final "End".
std::vector<std::string> buildFunctionNames(int32_t languageId);

// "1.2.0 build 15".
std::string versionText(std::string_view version, std::string_view buildNumber);

// The status item's tooltip, the same in every language.
inline constexpr std::string_view kStatusToolTip = "QR-350/QR-450 Mouse Assistant";
inline constexpr std::string_view kProductName = "VELT Mouse Assistant";

// The uninstall question: the "uninstall" text, a blank, a line break and the
// product name in double quotes with a question mark.
std::string uninstallQuestion(const UiStrings& strings);

}  // namespace velt
