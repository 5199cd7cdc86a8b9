#include "ui/slot_assignments.h"

namespace velt {

ButtonAssignment& slotAssignment(Settings& settings, int slotIndex) {
  if (slotIndex < 3) return settings.StandardButtonAssignments[2 + slotIndex];
  return settings.ExtraButtonAssignments[slotIndex - 3];
}

uint8_t storeSlotCodes(Settings& settings, const std::array<int32_t, kSlotCount>& codes) {
  for (auto& a : settings.StandardButtonAssignments) a.code.store(0, std::memory_order_relaxed);
  for (auto& a : settings.ExtraButtonAssignments) a.code.store(0, std::memory_order_relaxed);

  uint8_t mask = 0;
  for (int slot = 0; slot < 3; ++slot) {
    if (codes[slot] == 0) continue;
    slotAssignment(settings, slot).code.store(codes[slot], std::memory_order_relaxed);
    mask |= static_cast<uint8_t>(1u << (2 + slot));
  }
  if (codes[3] != 0) slotAssignment(settings, 3).code.store(codes[3], std::memory_order_relaxed);

  uint8_t hid = settings.hidButtonMask.load(std::memory_order_relaxed) & ~uint8_t{6};
  if (codes[4] != 0) {
    slotAssignment(settings, 4).code.store(codes[4], std::memory_order_relaxed);
    hid |= 4;
  }
  if (codes[5] != 0) {
    slotAssignment(settings, 5).code.store(codes[5], std::memory_order_relaxed);
    hid |= 2;
  }
  settings.hidButtonMask.store(hid, std::memory_order_relaxed);
  return mask;
}

}  // namespace velt
