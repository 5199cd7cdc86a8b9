// How long one button function takes from the call to the last uinput write:
// runButtonFunction for Copy (code 13), which writes Ctrl down, C down, C up
// and Ctrl up as four reports. Prints p50, p99 and the maximum.
//
// Where /dev/uinput cannot be used, the same reports are written with the
// same system calls to /dev/null instead, and the output says so.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "actions/action_engine.h"
#include "core/clock.h"
#include "core/log.h"
#include "platform/input/uinput_output.h"

namespace {

using namespace velt;

// The uinput writes, aimed at /dev/null.
class NullDeviceOutput : public SyntheticInput {
 public:
  NullDeviceOutput() : fd_(::open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
  ~NullDeviceOutput() override { ::close(fd_); }
  void key(uint16_t code, bool down) override { writeKeyReport(fd_, code, down); }
  void scroll(const ScrollFrame& frame) override { writeScrollReport(fd_, frame); }
  void pointerButton(uint16_t code, bool down) override { writeKeyReport(fd_, code, down); }

 private:
  int fd_;
};

class NoPointer : public PointerLocator {
 public:
  std::optional<PointF> pointerPosition() override { return std::nullopt; }
};

class NoWindow : public ActiveWindowQuery {
 public:
  std::optional<WindowClass> activeWindowClass() override { return std::nullopt; }
};

class NoDesktop : public DesktopSession {
 public:
  void refresh(std::function<void()> ready) override { ready(); }
  bool hasService(std::string_view) override { return false; }
  bool supportsShowingDesktop() override { return false; }
  bool hasProgram(std::string_view) override { return false; }
  bool hasX11Screen() override { return false; }
  std::string desktopName() override { return "no desktop"; }
  void start(const DesktopCall&, Done done) override { done("no desktop"); }
};

class NoMainThread : public MainThread {
 public:
  void post(std::function<void()>) override {}
};

class QuietLog : public LogSink {
 public:
  void line(std::string_view) override {}
  void debug(std::string_view) override {}
};

double micros(std::chrono::nanoseconds d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main() {
  QuietLog quiet;
  setLogSink(&quiet);
  UinputOutput uinput(systemClock());
  NullDeviceOutput nullDevice;
  const bool real = uinput.open();
  SyntheticInput& output = real ? static_cast<SyntheticInput&>(uinput) : nullDevice;

  NoPointer pointer;
  NoWindow windows;
  NoDesktop desktopSession;
  NoMainThread mainThread;
  PointerModeState modes;
  SyntheticEvents events(output, pointer);
  DesktopCommands desktop(desktopSession, mainThread);
  ActionEngine engine(events, desktop, windows, modes, mainThread);

  constexpr int kWarmUp = 2000;
  constexpr int kRuns = 50000;
  for (int i = 0; i < kWarmUp; ++i) engine.runButtonFunction(13, 1, 0, 0);
  std::vector<std::chrono::nanoseconds> samples;
  samples.reserve(kRuns);
  for (int i = 0; i < kRuns; ++i) {
    auto start = std::chrono::steady_clock::now();
    engine.runButtonFunction(13, 1, 0, 0);
    samples.push_back(std::chrono::steady_clock::now() - start);
    engine.runButtonFunction(13, 0, 0, 0);
  }
  uinput.close();
  setLogSink(nullptr);

  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * (samples.size() - 1))]; };
  std::printf("runButtonFunction(13 Copy, press): 4 key reports, %d runs\n", kRuns);
  std::printf("output: %s\n", real ? "uinput (/dev/uinput)"
                                   : "/dev/null (no usable /dev/uinput here; the same write(2) "
                                     "calls, without the kernel's input handling)");
  std::printf("p50 %.2f us   p99 %.2f us   max %.2f us\n", micros(at(0.50)), micros(at(0.99)),
              micros(samples.back()));
  return 0;
}
