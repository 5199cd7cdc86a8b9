#include "platform/input_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <future>

#include "tests/overlay/overlay_fakes.h"
#include "tests/platform/input_events.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using testing::Events;
using testing::frame;
using testing::key;
using testing::rel;

// A node fed through a pipe: the test writes events, closing the pipe
// unplugs the mouse.
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

class RecordingSink : public InputSink {
 public:
  explicit RecordingSink(Received& received) : received_(received) {}
  bool write(std::span<const input_event> events) override {
    std::lock_guard lock(received_.mutex);
    received_.events.insert(received_.events.end(), events.begin(), events.end());
    received_.changed.notify_all();
    return true;
  }

 private:
  Received& received_;
};

class InputLoopTest : public ::testing::Test {
 protected:
  PointerModeState modes;
  Settings settings;
  testing::FakeButtonMaskSink buttons;
  testing::FakePointerOutput output;
  testing::FakeOverlayTarget overlay;
  testing::ManualDelayedTasks delayed;
  PointerTaps taps{modes, settings, &buttons, output, overlay, delayed};
  Received received;
  bool sourceDestroyed = false;
  int writer = -1;
  std::promise<std::string> gone;
  InputLoop loop{taps};
  testing::CaptureLog log;

  void SetUp() override {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    writer = fds[1];
    loop.setNodeGoneHandler([this](const std::string& key) { gone.set_value(key); });
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
  std::string unplug() {
    close(writer);
    writer = -1;
    auto future = gone.get_future();
    if (future.wait_for(10s) != std::future_status::ready) return "";
    return future.get();
  }
};

TEST_F(InputLoopTest, PassesFramesOnToTheCopy) {
  Events motion = frame({rel(REL_X, 5), rel(REL_Y, -1)});
  send(motion);
  send(frame({key(BTN_LEFT, 1)}));
  Events expected = motion;
  Events press = frame({key(BTN_LEFT, 1)});
  expected.insert(expected.end(), press.begin(), press.end());
  EXPECT_EQ(received.waitFor(expected.size()), expected);
}

TEST_F(InputLoopTest, AFrameBrokenByLostEventsIsDropped) {
  Events events = {rel(REL_X, 7), testing::event(EV_SYN, SYN_DROPPED, 0)};
  Events after = frame({rel(REL_Y, 2)});
  events.insert(events.end(), after.begin(), after.end());
  send(events);
  EXPECT_EQ(received.waitFor(after.size()), after);
}

TEST_F(InputLoopTest, AnUnpluggedMouseLeavesNothingPressed) {
  settings.interceptMask = 0x04;
  send(frame({key(BTN_LEFT, 1)}));
  send(frame({key(BTN_MIDDLE, 1)}));
  received.waitFor(2);
  EXPECT_EQ(unplug(), "mouse");
  EXPECT_TRUE(sourceDestroyed);
  Events expected = frame({key(BTN_LEFT, 1)});
  Events release = frame({key(BTN_LEFT, 0)});
  expected.insert(expected.end(), release.begin(), release.end());
  EXPECT_EQ(received.waitFor(4), expected);
  EXPECT_EQ(buttons.masks, (std::vector<uint8_t>{0x04, 0x00}));
  EXPECT_EQ(log.count("test mouse has gone"), 1u);
}

TEST_F(InputLoopTest, StoppingReleasesWhatTheCopyHolds) {
  send(frame({key(BTN_RIGHT, 1)}));
  received.waitFor(2);
  loop.stop();
  EXPECT_TRUE(sourceDestroyed);
  EXPECT_EQ(received.waitFor(4),
            (Events{key(BTN_RIGHT, 1), testing::report(), key(BTN_RIGHT, 0), testing::report()}));
}

}  // namespace
}  // namespace velt
