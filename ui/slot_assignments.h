// How the six slots of the configuration window map onto the settings.
#pragma once

#include <array>
#include <cstdint>

#include "core/settings.h"
#include "ui/slot_menus.h"

namespace velt {

// The assignment behind slot index 0 to 5: standard buttons 2, 3, 4, then
// extra buttons 0, 1, 2.
ButtonAssignment& slotAssignment(Settings& settings, int slotIndex);

// Stores the codes chosen in the six slots (0 for a pop-up without a
// choice): every other code is cleared, including standard button 1, which
// has no slot; the operands stay. Updates the hidButtonMask bits of extra
// buttons 1 and 2 and returns the new interceptMask.
uint8_t storeSlotCodes(Settings& settings, const std::array<int32_t, kSlotCount>& codes);

}  // namespace velt
