// The interface's process-wide state: the language, its texts, and the
// widgets of the six slots. One instance, owned by the application delegate.
#pragma once

#include <QIcon>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/interface_texts.h"
#include "ui/slot_menus.h"

class QComboBox;
class QLabel;

namespace velt {

struct InterfaceState {
  int32_t languageId = kLanguageEnglish;
  UiStrings uiStrings = builtInEnglishStrings();
  std::vector<std::string> functionNames;
  // Slot tables, index 0 to 5 for slots 1 to 6.
  std::array<QLabel*, kSlotCount> slotCaptions{};
  std::array<QComboBox*, kSlotCount> slotPopUps{};
  std::array<SlotMenu, kSlotCount> slotMenus;
  std::array<QLabel*, kSlotCount> shortcutLabels{};
  QIcon statusIconColor;
  QIcon statusIconGray;
};

}  // namespace velt
