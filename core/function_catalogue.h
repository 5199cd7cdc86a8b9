// The button functions a user can choose, in the order the pop-ups list them,
// with their names in the three interface languages.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velt {

enum class Language { English = 0, Japanese = 1, TraditionalChinese = 2 };

struct FunctionCatalogueEntry {
  uint8_t code;                           // FunctionCode; 255 marks a separator
  std::array<std::string_view, 3> names;  // indexed by Language
};

inline constexpr int kFunctionCatalogueSize = 39;

// Positions 0 to 38, in pop-up order.
const std::array<FunctionCatalogueEntry, kFunctionCatalogueSize>& FunctionCatalogue();

// The name tables end with this entry, at position kFunctionCatalogueSize.
inline constexpr std::string_view kFunctionCatalogueEnd = "End";

// The name of a catalogue position in a language; positions past the table
// give kFunctionCatalogueEnd.
std::string_view functionName(int position, Language language);

// Whether the pop-up of slot (1 to 6) offers the function code. The rules
// behind it are kept as data in function_catalogue.cc.
bool isFunctionOffered(uint8_t code, int slot);

}  // namespace velt
