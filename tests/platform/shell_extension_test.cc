#include "platform/gnome/shell_extension.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

// Extension lists as gsettings prints them; names with quotes or
// backslashes once came back mangled, or mangled the list when written.
TEST(ShellExtension, ExtensionListsAreReadAndWrittenAsGVariantText) {
  const QStringList odd = {"a@b", "it's", "say \"hi\"", "back\\slash", "ü"};
  const QString printed = R"(['a@b', "it's", 'say "hi"', 'back\\slash', 'ü'])";
  EXPECT_EQ(parseStringArray(printed), odd);
  EXPECT_EQ(parseStringArray(stringArrayText(odd)), odd);
  EXPECT_EQ(parseStringArray("@as []"), QStringList());
  EXPECT_EQ(parseStringArray(stringArrayText({})), QStringList());
  EXPECT_EQ(parseStringArray("['unterminated"), std::nullopt);
  EXPECT_EQ(parseStringArray("['a', 3]"), std::nullopt);
}

}  // namespace
}  // namespace velt
