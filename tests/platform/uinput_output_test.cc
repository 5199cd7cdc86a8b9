#include "platform/input/uinput_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <utility>
#include <vector>

#include "actions/key_codes.h"
#include "actions/synthetic_events.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using std::chrono::seconds;

TEST(UinputOutput, AMissingDeviceIsLoggedOnceAndRetriedAtMostEveryFewSeconds) {
  testing::CaptureLog log;
  testing::TempDir dir;
  testing::FakeClock clock;
  const auto path = (dir / "uinput").string();
  UinputOutput output(clock, path, seconds(5));

  output.key(30, true);  // before open(): dropped without trying
  EXPECT_EQ(output.openAttempts(), 0);

  EXPECT_FALSE(output.open());
  output.key(30, true);
  output.scroll({120, 1, 0, 0});
  EXPECT_EQ(output.openAttempts(), 1);
  clock.advance(seconds(4));
  output.key(30, false);
  EXPECT_EQ(output.openAttempts(), 1);
  clock.advance(seconds(2));
  output.key(30, false);
  EXPECT_EQ(output.openAttempts(), 2);

  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.count(path), 1u);

  output.close();
  clock.advance(seconds(60));
  output.key(30, true);  // closed for good: no more attempts
  EXPECT_EQ(output.openAttempts(), 2);
}

TEST(UinputOutput, ANodeThatIsNotUinputFailsCleanly) {
  testing::CaptureLog log;
  testing::TempDir dir;
  testing::FakeClock clock;
  const auto path = dir / "not-uinput";
  testing::writeFile(path, "");
  UinputOutput output(clock, path.string());
  EXPECT_FALSE(output.open());
  EXPECT_EQ(log.count(path.string()), 1u);
  EXPECT_TRUE(output.keyboardNode().empty());
}

using Codes = std::vector<std::pair<uint16_t, int32_t>>;

// The code and value of the next count events of type, waiting up to a
// second for each; fewer when they do not come.
Codes read(libevdev* dev, uint16_t type, size_t count) {
  Codes out;
  while (out.size() < count) {
    pollfd p{libevdev_get_fd(dev), POLLIN, 0};
    if (!libevdev_has_event_pending(dev) && poll(&p, 1, 1000) <= 0) break;
    input_event e{};
    int rc = libevdev_next_event(dev, LIBEVDEV_READ_FLAG_NORMAL, &e);
    if (rc == LIBEVDEV_READ_STATUS_SUCCESS && e.type == type) out.emplace_back(e.code, e.value);
    if (rc < 0 && rc != -EAGAIN) break;
  }
  return out;
}

struct EvdevNode {
  explicit EvdevNode(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK)) {
    if (fd >= 0 && libevdev_new_from_fd(fd, &dev) != 0) dev = nullptr;
  }
  ~EvdevNode() {
    libevdev_free(dev);
    if (fd >= 0) ::close(fd);
  }
  int fd;
  libevdev* dev = nullptr;
};

TEST(UinputOutput, RealDevicesCarryKeysAndScrolling) {
  int probe = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
  if (probe < 0) GTEST_SKIP() << "/dev/uinput is not usable here";
  ::close(probe);

  testing::FakeClock clock;
  UinputOutput output(clock);
  ASSERT_TRUE(output.open());
  EvdevNode keyboard(output.keyboardNode());
  EvdevNode pointer(output.pointerNode());
  ASSERT_TRUE(keyboard.dev && pointer.dev);
  EXPECT_STREQ(libevdev_get_name(keyboard.dev), kVirtualKeyboardName);
  EXPECT_STREQ(libevdev_get_name(pointer.dev), kVirtualPointerName);
  for (uint16_t code : virtualKeyboardKeys()) {
    EXPECT_TRUE(libevdev_has_event_code(keyboard.dev, EV_KEY, code)) << code;
  }
  EXPECT_TRUE(libevdev_has_event_code(pointer.dev, EV_REL, REL_WHEEL_HI_RES));
  EXPECT_TRUE(libevdev_has_event_code(pointer.dev, EV_REL, REL_HWHEEL_HI_RES));

  testing::FixedPointer noPointer;
  SyntheticEvents events(output, noPointer);
  events.keyDown(kVkControl);
  events.keyDown(8);
  EXPECT_EQ(read(keyboard.dev, EV_KEY, 2), (Codes{{KEY_LEFTCTRL, 1}, {KEY_C, 1}}));

  events.postScrollEvent(1, 0);
  EXPECT_EQ(read(pointer.dev, EV_REL, 2), (Codes{{REL_WHEEL_HI_RES, 120}, {REL_WHEEL, 1}}));
  events.postPointerButton(3, true);  // a side button keeping its own function
  EXPECT_EQ(read(pointer.dev, EV_KEY, 1), (Codes{{BTN_SIDE, 1}}));

  // Quitting lets go of the held keys while the devices are still there (a
  // reader loses what is queued once its device is gone).
  events.releaseAllKeys();
  EXPECT_EQ(read(keyboard.dev, EV_KEY, 2), (Codes{{KEY_C, 0}, {KEY_LEFTCTRL, 0}}));
  EXPECT_EQ(read(pointer.dev, EV_KEY, 1), (Codes{{BTN_SIDE, 0}}));
  output.close();
  events.keyDown(8);  // closed: nothing is made again
  EXPECT_TRUE(output.keyboardNode().empty());
}

}  // namespace
}  // namespace velt
