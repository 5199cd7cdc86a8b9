#include "actions/key_name_table.h"

#include <gtest/gtest.h>

#include <set>

namespace velt {
namespace {

TEST(KeyNameTable, DistinctCodesInRecorderOrder) {
  const auto& table = KeyNameTable();
  std::set<int32_t> codes;
  std::set<std::string_view> names;
  for (const auto& k : table) {
    EXPECT_TRUE(codes.insert(k.code).second) << "code " << k.code << " twice";
    EXPECT_TRUE(names.insert(k.name).second) << k.name << " twice";
    EXPECT_GE(k.code, 0);
    EXPECT_LE(k.code, 127);
  }
  EXPECT_EQ(table[12].name, "N");
  EXPECT_EQ(table[13].name, "M");
  EXPECT_EQ(table[0].code, 0);
  EXPECT_EQ(table[kKeyNameCount - 1].name, "F12");
  EXPECT_EQ(table[kKeyNameCount - 1].code, 111);
}

}  // namespace
}  // namespace velt
