#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace velt {
namespace {

// The hand-over to a running copy is tested with the application delegate.

TEST(SingleInstance, LockIsFreedWithItsHolderAndStaleSocketsGo) {
  testing::TempDir dir;
  {
    SingleInstance first(dir.path(), "agent");
    ASSERT_TRUE(first.acquire());
  }
  testing::writeFile(dir / "agent.socket", "left behind");
  SingleInstance again(dir.path(), "agent");
  EXPECT_TRUE(again.acquire());
  EXPECT_TRUE(std::filesystem::is_socket(dir / "agent.socket"));

  // Nobody to ask: the second copy gives up quietly.
  testing::TempDir empty;
  SingleInstance lonely(empty.path(), "agent");
  EXPECT_FALSE(lonely.askRunningCopyToReopen(100));
}

TEST(SingleInstance, NoRuntimeFolderStillRuns) {
  testing::CaptureLog log;
  SingleInstance instance("/nonexistent/velt", "agent");
  EXPECT_TRUE(instance.acquire());
  EXPECT_EQ(log.count("/nonexistent/velt/agent.lock"), 1u);
}

}  // namespace
}  // namespace velt
