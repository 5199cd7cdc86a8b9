#include "ui/slot_menus.h"

#include "core/function_catalogue.h"
#include "core/settings.h"

namespace velt {

std::array<SlotMenu, kSlotCount> buildSlotMenus(const std::vector<std::string>& functionNames) {
  std::array<SlotMenu, kSlotCount> menus;
  for (size_t k = 0; k < functionNames.size() && k < 50; ++k) {
    if (functionNames[k] == kFunctionCatalogueEnd || k >= FunctionCatalogue().size()) break;
    uint8_t code = FunctionCatalogue()[k].code;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
      if (!isFunctionOffered(code, slot)) continue;
      SlotMenu& menu = menus[slot - 1];
      if (code == kFunctionSeparator) {
        menu.push_back({true, code, ""});
      } else {
        menu.push_back({false, code, functionNames[k]});
      }
    }
  }
  return menus;
}

int indexOfCode(const SlotMenu& menu, int32_t code) {
  for (size_t i = 0; i < menu.size(); ++i) {
    if (!menu[i].separator && menu[i].code == code) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace velt
