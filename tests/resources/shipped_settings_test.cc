// The default settings file the agent ships.
#include <gtest/gtest.h>

#include "core/plist_file.h"
#include "core/settings_store.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

TEST(ShippedSettings, DefaultButtonPlistHoldsTheKeysWithDefaults) {
  auto read = PlistDictionary::read(testing::sourceResources() / "button.plist");
  ASSERT_EQ(read.status, PlistDictionary::Status::Ok) << read.reason;
  EXPECT_EQ(read.dictionary.size(), kSettingsKeys.size());
  for (auto key : kSettingsKeys) {
    EXPECT_TRUE(read.dictionary.has(key)) << key;
    EXPECT_EQ(read.dictionary.intValue(key), key == "spotlightDim" ? 310 : 0) << key;
  }
}

}  // namespace
}  // namespace velt
