#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

TEST(SingleInstance, SecondCopyHandsOverToTheFirst) {
  testing::TempDir dir;
  SingleInstance first(dir.path(), "agent");
  ASSERT_TRUE(first.acquire());
  int reopened = 0;
  QObject::connect(&first, &SingleInstance::reopenRequested, [&] { ++reopened; });

  SingleInstance second(dir.path(), "agent");
  EXPECT_FALSE(second.acquire());
  // The hand-over needs the first copy's event loop; run it meanwhile.
  bool answered = false;
  std::thread asker([&] {
    SingleInstance third(dir.path(), "agent");
    answered = third.askRunningCopyToReopen(2000);
  });
  EXPECT_TRUE(testing::processEventsUntil([&] { return reopened == 1; }));
  asker.join();
  EXPECT_TRUE(answered);
}

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
