#include "core/number_text.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

TEST(LeadingInt, ReadsLikeTheStoredFilesExpect) {
  EXPECT_EQ(leadingInt("310"), 310);
  EXPECT_EQ(leadingInt("  -12abc"), -12);
  EXPECT_EQ(leadingInt("+7"), 7);
  EXPECT_EQ(leadingInt("abc"), 0);
  EXPECT_EQ(leadingInt(""), 0);
  EXPECT_EQ(leadingInt("-"), 0);
  EXPECT_EQ(leadingInt("12.9"), 12);
  EXPECT_EQ(leadingInt("99999999999999999999"), 2147483647);
  EXPECT_EQ(leadingInt("-99999999999999999999"), -2147483647 - 1);
}

TEST(LeadingDouble, NumbersInTextAndWhatIsNone) {
  EXPECT_EQ(leadingDouble(" 254.9xyz"), 254.9);
  EXPECT_EQ(leadingDouble("-1e2"), -100.0);
  EXPECT_EQ(leadingDouble("+7"), 7.0);
  for (const char* none : {"", "abc", "+-1", "nan", "inf", "1e999"}) {
    EXPECT_EQ(leadingDouble(none), std::nullopt) << none;
  }
}

TEST(ScanHex, PrefixesDigitsAndFailures) {
  EXPECT_EQ(scanHex("0C45"), 0x0C45u);
  EXPECT_EQ(scanHex("0x0C45"), 0x0C45u);
  EXPECT_EQ(scanHex(" 0X7e20 trailing"), 0x7E20u);
  EXPECT_EQ(scanHex("1E"), 0x1Eu);
  EXPECT_EQ(scanHex("0xZZ"), 0u);  // the "0" is a digit, the prefix is not
  EXPECT_EQ(scanHex("FFFFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_FALSE(scanHex("").has_value());
  EXPECT_FALSE(scanHex("   ").has_value());
  EXPECT_FALSE(scanHex("xyz").has_value());
  EXPECT_EQ(scanHex("0x"), 0u);
}

}  // namespace
}  // namespace velt
