#include "platform/input/input_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "tests/overlay/overlay_fakes.h"
#include "tests/platform/input_events.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::Events;
using testing::frame;
using testing::joined;
using testing::key;
using testing::rel;

// A node fed through a pipe: the test writes events. (Unplugging, with
// what it releases, is checked against the kernel in tests/e2e.)
class PipeSource : public InputSource {
 public:
  explicit PipeSource(int fd, bool* destroyed) : fd_(fd), destroyed_(destroyed) {}
  ~PipeSource() override {
    close(fd_);
    *destroyed_ = true;
  }
  int fd() const override { return fd_; }
  bool read(std::vector<input_event>& events) override {
    input_event e;
    for (;;) {
      ssize_t n = ::read(fd_, &e, sizeof e);
      if (n == sizeof e) {
        events.push_back(e);
      } else {
        return n < 0 && errno == EAGAIN;
      }
    }
  }

 private:
  int fd_;
  bool* destroyed_;
};

// What reaches the copy, for the test thread to wait on.
struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  Events events;

  Events waitFor(size_t count) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, 10s, [&] { return events.size() >= count; });
    return events;
  }
};

struct RecordingSink : InputSink {
  explicit RecordingSink(Received& r) : received(r) {}
  bool write(std::span<const input_event> events) override {
    std::lock_guard lock(received.mutex);
    received.events.insert(received.events.end(), events.begin(), events.end());
    received.changed.notify_all();
    return true;
  }
  Received& received;
};

class InputLoopTest : public ::testing::Test, public testing::TapsRig {
 protected:
  Received received;
  bool sourceDestroyed = false;
  int writer = -1;
  InputLoop loop{taps};

  void SetUp() override {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    writer = fds[1];
    ASSERT_TRUE(loop.start());
    std::promise<void> added;
    loop.post([&, reader = fds[0]] {
      loop.addNode("mouse", "test mouse", std::make_unique<PipeSource>(reader, &sourceDestroyed),
                   std::make_unique<RecordingSink>(received));
      added.set_value();
    });
    added.get_future().wait();
  }
  void TearDown() override {
    loop.stop();
    if (writer >= 0) close(writer);
  }

  void send(const Events& events) {
    ASSERT_EQ(write(writer, events.data(), events.size() * sizeof(input_event)),
              static_cast<ssize_t>(events.size() * sizeof(input_event)));
  }
};

TEST_F(InputLoopTest, AFrameBrokenByLostEventsIsDropped) {
  Events after = frame({rel(REL_Y, 2)});
  send(joined({{rel(REL_X, 7), inputEvent(EV_SYN, SYN_DROPPED, 0)}, after}));
  EXPECT_EQ(received.waitFor(after.size()), after);
}

TEST_F(InputLoopTest, StoppingReleasesWhatTheCopyHolds) {
  send(frame({key(BTN_RIGHT, 1)}));
  received.waitFor(2);
  loop.stop();
  EXPECT_TRUE(sourceDestroyed);
  EXPECT_EQ(received.waitFor(4), joined({frame({key(BTN_RIGHT, 1)}), frame({key(BTN_RIGHT, 0)})}));
}

TEST_F(InputLoopTest, ABurstOfReplacingPostsRunsOnceWithTheNewestInItsPlace) {
  std::promise<void> release, done;
  loop.post([released = release.get_future().share()] { released.wait(); });
  std::vector<int> runs;
  for (int i = 1; i <= 3; ++i) {
    loop.postReplacing("rescan", [&runs, i] { runs.push_back(i); });
    if (i == 1) loop.post([&runs] { runs.push_back(0); });
  }
  loop.post([&] { done.set_value(); });
  release.set_value();
  done.get_future().wait();
  EXPECT_EQ(runs, (std::vector<int>{3, 0}));
}

TEST_F(InputLoopTest, PostsRacingStopAreDropped) {
  // The device layer may post from its own thread while the loop stops: the
  // wake-up descriptor must stay the loop's until it is gone, and nothing
  // posted runs after stop().
  std::atomic<bool> posting{true};
  std::atomic<int> posts{0};
  std::atomic<bool> stopped{false};
  std::atomic<int> lateRuns{0};
  std::thread poster([&] {
    while (posting) {
      loop.post([&] { lateRuns += stopped ? 1 : 0; });
      ++posts;
    }
  });
  while (posts < 100) std::this_thread::yield();
  loop.stop();
  stopped = true;
  const int atStop = posts;
  while (posts < atStop + 100) std::this_thread::yield();
  posting = false;
  poster.join();
  EXPECT_EQ(lateRuns, 0);
}

}  // namespace
}  // namespace velt
