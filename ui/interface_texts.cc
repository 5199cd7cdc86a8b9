#include "ui/interface_texts.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/log.h"

namespace velt {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// "zh_TW.UTF-8@euro" -> {"zh", "tw"}; "zh-Hant-TW" -> {"zh", "hant", "tw"}.
std::vector<std::string> languageSubtags(std::string_view tag) {
  tag = tag.substr(0, tag.find_first_of(".@"));
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= tag.size()) {
    size_t end = tag.find_first_of("-_", start);
    if (end == std::string_view::npos) end = tag.size();
    if (end > start) parts.push_back(lower(tag.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

const std::map<std::string, std::string>& englishTexts() {
  static const std::map<std::string, std::string> texts = {
      {"button setting", "Button Settings"},
      {"open setting", "Settings…"},
      {"uninstall", "Uninstall"},
      {"exit", "Quit"},
      {"button", "Button"},
      {"device not found", "No supported mouse found"},
      {"model", "Model"},
      {"cancel", "Cancel"},
      {"all applications", "All applications"},
      {"add application", "Add application…"},
      {"as for all applications", "As for all applications"},
      {"remove profile", "Remove"},
      {"search applications", "Search applications"},
      {"open windows", "Open windows"},
      {"installed applications", "Installed applications"},
      {"add", "Add"},
  };
  return texts;
}

std::map<std::string, std::string> stringsOf(const nlohmann::json& object) {
  std::map<std::string, std::string> texts;
  for (const auto& [key, value] : object.items()) {
    if (value.is_string()) texts[key] = value.get<std::string>();
  }
  return texts;
}

}  // namespace

int32_t chooseLanguageId(std::string_view preferredLanguage) {
  auto tags = languageSubtags(preferredLanguage);
  if (tags.empty()) return kLanguageEnglish;
  if (tags[0] == "ja") return kLanguageJapanese;
  if (tags[0] != "zh") return kLanguageEnglish;
  // Chinese: Traditional as written in Taiwan only. A bare "zh_TW" implies the
  // traditional script; an explicit other script does not count.
  bool taiwan = false, traditional = true;
  for (size_t i = 1; i < tags.size(); ++i) {
    if (tags[i] == "tw") taiwan = true;
    if (tags[i].size() == 4 && tags[i] != "hant") traditional = false;
  }
  return taiwan && traditional ? kLanguageTraditionalChinese : kLanguageEnglish;
}

Language catalogueLanguage(int32_t languageId) {
  switch (languageId) {
    case kLanguageJapanese:
      return Language::Japanese;
    case kLanguageTraditionalChinese:
      return Language::TraditionalChinese;
    default:
      return Language::English;
  }
}

std::string UiStrings::text(std::string_view key) const {
  std::string k(key);
  if (auto it = texts_.find(k); it != texts_.end()) return it->second;
  if (auto it = englishTexts().find(k); it != englishTexts().end()) return it->second;
  return k;
}

UiStrings builtInEnglishStrings() {
  return UiStrings(englishTexts());
}

UiStrings parseUiStrings(std::string_view json, int32_t languageId, std::string_view source) {
  auto parsed = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    logFormat("%.*s: not a JSON object, using the built-in English texts",
              static_cast<int>(source.size()), source.data());
    return builtInEnglishStrings();
  }
  std::string key = std::to_string(languageId);
  if (auto it = parsed.find(key); it != parsed.end() && it->is_object()) {
    return UiStrings(stringsOf(*it));
  }
  auto english = parsed.find(std::to_string(kLanguageEnglish));
  logFormat("%.*s: no texts for language %s, using English texts", static_cast<int>(source.size()),
            source.data(), key.c_str());
  if (english != parsed.end() && english->is_object()) return UiStrings(stringsOf(*english));
  return builtInEnglishStrings();
}

UiStrings loadUiStrings(const std::filesystem::path& languageFile, int32_t languageId) {
  std::ifstream in(languageFile, std::ios::binary);
  if (!in) {
    logFormat("%s: cannot be read, using the built-in English texts", languageFile.c_str());
    return builtInEnglishStrings();
  }
  std::stringstream contents;
  contents << in.rdbuf();
  return parseUiStrings(contents.str(), languageId, languageFile.native());
}

std::vector<std::string> buildFunctionNames(int32_t languageId) {
  std::vector<std::string> names;
  Language language = catalogueLanguage(languageId);
  for (int position = 0; position < 50; ++position) {
    names.emplace_back(functionName(position, language));
    if (names.back() == kFunctionCatalogueEnd) break;
  }
  return names;
}

std::string versionText(std::string_view version, std::string_view buildNumber) {
  return std::string(version) + " build " + std::string(buildNumber);
}

std::string uninstallQuestion(const UiStrings& strings) {
  return strings.text("uninstall") + " \n\"" + std::string(kProductName) + "\"?";
}

}  // namespace velt
