#include "tests/support/test_support.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace velt::testing {

CaptureLog::CaptureLog() {
  setLogSink(this);
}
CaptureLog::~CaptureLog() {
  setLogSink(nullptr);
}

void CaptureLog::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  lines_.emplace_back(text);
}
void CaptureLog::debug(std::string_view text) {
  line(text);
}

std::vector<std::string> CaptureLog::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

size_t CaptureLog::count(std::string_view needle) const {
  std::lock_guard lock(mutex_);
  return std::count_if(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.find(needle) != std::string::npos; });
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "velt";
  std::replace(name.begin(), name.end(), '/', '_');
  path_ = std::filesystem::temp_directory_path() /
          ("velt-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + name);
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Give back write permission that a test may have taken away.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, std::string_view contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::filesystem::path sourceResources() {
  if (const char* copy = std::getenv("VELT_TEST_RESOURCES"); copy && *copy) return copy;
  return std::filesystem::path(VELT_SOURCE_DIR) / "resources";
}

Clock::TimePoint FakeClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}
void FakeClock::sleepFor(Duration d) {
  advance(d);
}
void FakeClock::waitUntil(std::condition_variable&, std::unique_lock<std::mutex>&, TimePoint due) {
  std::lock_guard lock(mutex_);
  now_ = std::max(now_, due);
}

void FakeClock::runAfter(std::string_view label, Duration delay, std::function<void()> task) {
  std::lock_guard lock(mutex_);
  jobs_.push_back({now_ + delay, order_++, std::string(label), std::move(task)});
}

void FakeClock::advance(Duration d) {
  TimePoint end;
  {
    std::lock_guard lock(mutex_);
    end = now_ + d;
  }
  for (;;) {
    Job job;
    {
      std::lock_guard lock(mutex_);
      auto next = std::min_element(jobs_.begin(), jobs_.end(), [](const Job& a, const Job& b) {
        return a.due < b.due || (a.due == b.due && a.order < b.order);
      });
      if (next == jobs_.end() || next->due > end) {
        now_ = std::max(now_, end);
        return;
      }
      job = std::move(*next);
      jobs_.erase(next);
      now_ = std::max(now_, job.due);
    }
    job.task();
  }
}

void ManualMainThread::post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
}

size_t ManualMainThread::runPending() {
  size_t ran = 0;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return ran;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    ++ran;
  }
}

size_t ManualMainThread::pending() const {
  std::lock_guard lock(mutex_);
  return tasks_.size();
}

void RecordingInput::key(uint16_t evdevCode, bool down) {
  std::lock_guard lock(mutex_);
  events_.push_back(down ? keyDown(evdevCode) : keyUp(evdevCode));
}

void RecordingInput::scroll(const ScrollFrame& frame) {
  std::lock_guard lock(mutex_);
  events_.push_back(scrollText(frame));
}

void RecordingInput::pointerButton(uint16_t evdevCode, bool down) {
  std::lock_guard lock(mutex_);
  events_.push_back("button" + (down ? keyDown(evdevCode) : keyUp(evdevCode)));
}

std::vector<std::string> RecordingInput::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<std::string> RecordingInput::take() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

std::string keyDown(uint16_t evdevCode) {
  return "+" + std::to_string(evdevCode);
}

std::string keyUp(uint16_t evdevCode) {
  return "-" + std::to_string(evdevCode);
}

std::string scrollText(const ScrollFrame& f) {
  return "scroll v " + std::to_string(f.verticalHiRes) + "/" + std::to_string(f.verticalLines) +
         " h " + std::to_string(f.horizontalHiRes) + "/" + std::to_string(f.horizontalLines);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               const std::function<void()>& meanwhile) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    if (meanwhile) {
      meanwhile();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

void PrintTo(const ButtonCall& call, std::ostream* os) {
  *os << "(" << int(call.code) << ", " << call.pressed << ", " << int(call.op1) << ", "
      << int(call.op2) << ")";
}

void RecordingButtonRunner::runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) {
  std::lock_guard lock(mutex_);
  calls_.push_back({code, pressed, op1, op2});
  threads_.insert(std::this_thread::get_id());
}

std::vector<ButtonCall> RecordingButtonRunner::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

size_t RecordingButtonRunner::count() const {
  std::lock_guard lock(mutex_);
  return calls_.size();
}

void RecordingButtonRunner::clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

size_t RecordingButtonRunner::threads() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

}  // namespace velt::testing
