// Small fakes and helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/button_function.h"
#include "core/clock.h"
#include "core/delayed_tasks.h"
#include "core/log.h"
#include "core/main_thread.h"

namespace velt::testing {

// Collects log lines while alive and restores the default sink afterwards.
class CaptureLog : public LogSink {
 public:
  CaptureLog();
  ~CaptureLog() override;
  void line(std::string_view text) override;
  void debug(std::string_view text) override;
  std::vector<std::string> lines() const;
  // Lines that contain needle.
  size_t count(std::string_view needle) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A fresh folder under the test temp directory, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, std::string_view contents);
std::string readFile(const std::filesystem::path& path);

// The source tree's resources folder, or $VELT_TEST_RESOURCES where a guest
// has its copy elsewhere.
std::filesystem::path sourceResources();

// Time that only moves when told to, and the delayed tasks on it. advance()
// runs the tasks that fall due, in order (and those they add that fall due
// within it); sleepFor advances at once. Waiting moves time to its end: a
// TimerThread on it runs each job as soon as the jobs before it have run, at
// its due time.
class FakeClock : public Clock, public DelayedTasks {
 public:
  TimePoint now() const override;
  void sleepFor(Duration d) override;
  void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint due) override;
  void runAfter(std::string_view label, Duration delay, std::function<void()> task) override;
  void advance(Duration d);

 private:
  struct Job {
    TimePoint due;
    uint64_t order;
    std::string label;
    std::function<void()> task;
  };
  mutable std::mutex mutex_;
  TimePoint now_{};
  std::vector<Job> jobs_;
  uint64_t order_ = 0;
};

// A main thread that runs its tasks when the test says so.
class ManualMainThread : public MainThread {
 public:
  void post(std::function<void()> task) override;
  // Runs queued tasks, including those they post, until none is left.
  // Returns how many ran.
  size_t runPending();
  size_t pending() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

// Records what reaches the virtual keyboard and pointer, in order: keyDown(c)
// and keyUp(c) for keys, scrollText(frame) for scroll reports, "button"
// before them for the pointer's buttons.
class RecordingInput : public SyntheticInput {
 public:
  void key(uint16_t evdevCode, bool down) override;
  void scroll(const ScrollFrame& frame) override;
  void pointerButton(uint16_t evdevCode, bool down) override;
  // The events so far; take() also forgets them.
  std::vector<std::string> events() const;
  std::vector<std::string> take();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// A pointer that is where the test puts it, or nowhere.
class FixedPointer : public PointerLocator {
 public:
  std::optional<PointF> pointerPosition() override { return at; }
  std::optional<PointF> at;
};

std::string keyDown(uint16_t evdevCode);
std::string keyUp(uint16_t evdevCode);
std::string scrollText(const ScrollFrame& frame);

// Checks condition until it holds or timeout passes, for results that another
// thread produces; between checks runs meanwhile (by default a 1 ms sleep).
// Returns whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10),
               const std::function<void()>& meanwhile = {});

// One call of runButtonFunction.
struct ButtonCall {
  uint8_t code;
  int pressed;
  uint8_t op1;
  uint8_t op2;
  bool operator==(const ButtonCall&) const = default;
};
void PrintTo(const ButtonCall& call, std::ostream* os);

// Records every runButtonFunction call, from any thread.
class RecordingButtonRunner : public ButtonFunctionRunner {
 public:
  void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) override;
  std::vector<ButtonCall> calls() const;
  size_t count() const;
  void clear();
  // How many threads have called it, clear() or not.
  size_t threads() const;

 private:
  mutable std::mutex mutex_;
  std::vector<ButtonCall> calls_;
  std::set<std::thread::id> threads_;
};

}  // namespace velt::testing
