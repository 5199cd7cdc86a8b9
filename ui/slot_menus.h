// What each of the six slot pop-ups of the configuration window lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velt {

inline constexpr int kSlotCount = 6;

struct SlotMenuEntry {
  bool separator = false;
  int32_t code = 0;   // the FunctionCode, the item's tag
  std::string title;  // functionNames entry; empty for separators
  bool operator==(const SlotMenuEntry&) const = default;
};
using SlotMenu = std::vector<SlotMenuEntry>;

// The menus of slots 1 to 6 (index 0 to 5), walking functionNames up to its
// "End" in catalogue order. Catalogue separators become separator entries;
// functions a slot does not offer are left out of that slot only.
std::array<SlotMenu, kSlotCount> buildSlotMenus(const std::vector<std::string>& functionNames);

// The index of the entry with this code, or -1 when the menu has none.
int indexOfCode(const SlotMenu& menu, int32_t code);

}  // namespace velt
