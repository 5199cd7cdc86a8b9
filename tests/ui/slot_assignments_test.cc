#include "ui/slot_assignments.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

TEST(SlotAssignments, StoresCodesMasksAndClearsTheRest) {
  Settings s;
  s.StandardButtonAssignments[1].store({13, 5, 6});  // "type1", no slot
  s.StandardButtonAssignments[3].store({27, 8, 12});
  s.ExtraButtonAssignments[1].store({9, 0, 0});
  s.hidButtonMask = 0x80 | 4;

  uint8_t mask = storeSlotCodes(s, {0, 27, 14, 0, 0, 7});
  EXPECT_EQ(mask, 8 | 16);
  EXPECT_EQ(s.StandardButtonAssignments[1].load(), (ButtonAssignmentValue{0, 5, 6}));
  EXPECT_EQ(s.StandardButtonAssignments[2].code, 0);
  EXPECT_EQ(s.StandardButtonAssignments[3].load(), (ButtonAssignmentValue{27, 8, 12}));
  EXPECT_EQ(s.StandardButtonAssignments[4].code, 14);
  EXPECT_EQ(s.ExtraButtonAssignments[0].code, 0);
  EXPECT_EQ(s.ExtraButtonAssignments[1].code, 0);
  EXPECT_EQ(s.ExtraButtonAssignments[2].code, 7);
  EXPECT_EQ(s.hidButtonMask, 0x80 | 2);  // foreign bits stay

  mask = storeSlotCodes(s, {2, 0, 0, 18, 8, 0});
  EXPECT_EQ(mask, 4);
  EXPECT_EQ(s.ExtraButtonAssignments[0].code, 18);  // no mask bit of its own
  EXPECT_EQ(s.hidButtonMask, 0x80 | 4);
}

}  // namespace
}  // namespace velt
