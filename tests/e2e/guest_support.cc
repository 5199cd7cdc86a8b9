#include "tests/e2e/guest_support.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace velt::e2e {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace

void Markers::pass(std::string_view what) {
  std::printf("velt-e2e: pass %.*s\n", static_cast<int>(what.size()), what.data());
  std::fflush(stdout);
}

void Markers::fail(std::string_view what, std::string_view detail) {
  ++failures_;
  std::printf("velt-e2e: fail %.*s: %.*s\n", static_cast<int>(what.size()), what.data(),
              static_cast<int>(detail.size()), detail.data());
  std::fflush(stdout);
}

bool Markers::check(bool ok, std::string_view what, std::string_view detail) {
  if (ok) {
    pass(what);
  } else {
    fail(what, detail.empty() ? "check failed" : detail);
  }
  return ok;
}

void Markers::note(std::string_view text) {
  std::printf("velt-e2e: note %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
}

bool waitFor(const std::function<bool()>& done, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (remainingMs(deadline) == 0) return false;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return true;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, unsigned user,
                           const std::vector<std::pair<std::string, std::string>>& env,
                           bool input) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if ((input && ::pipe(in) != 0) || ::pipe(out) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    if (input) ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    if (user != 0 && (::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(126);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  input_ = in[1];
  if (input) ::close(in[0]);
  ::close(out[1]);
  output_ = ::fdopen(out[0], "r");
}

ChildProcess::~ChildProcess() {
  kill(SIGKILL);
  if (input_ >= 0) ::close(input_);
  if (output_) std::fclose(output_);
}

void ChildProcess::kill(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string ChildProcess::readLine() {
  char line[512];
  if (!output_ || !std::fgets(line, sizeof line, output_)) return {};
  std::string text(line);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void ChildProcess::write(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] ssize_t n = ::write(input_, text.data(), text.size());
}

std::pair<int, std::string> ChildProcess::finish() {
  std::string all;
  char chunk[512];
  while (output_ && std::fgets(chunk, sizeof chunk, output_)) all += chunk;
  int status = 0;
  if (pid_ > 0) ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, all};
}

bool waitForGone(const std::string& path, milliseconds timeout) {
  return waitFor([&] { return !exists(path); }, timeout);
}

std::vector<std::string> eventNodesNamed(std::string_view name) {
  std::vector<std::string> nodes;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/input", error)) {
    std::string path = entry.path();
    if (entry.path().filename().string().rfind("event", 0) != 0) continue;
    EventReader reader(path);
    if (reader.ok() && reader.name() == name) nodes.push_back(path);
  }
  return nodes;
}

std::string waitForCopy(const std::string& original, milliseconds timeout) {
  const std::string name = EventReader(original).name();
  std::string copy;
  waitFor(
      [&] {
        for (const auto& node : eventNodesNamed(name)) {
          if (node != original) copy = node;
        }
        return !copy.empty();
      },
      timeout);
  return copy;
}

EventReader::EventReader(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ >= 0 && libevdev_new_from_fd(fd_, &dev_) < 0) dev_ = nullptr;
}

EventReader::~EventReader() {
  if (dev_) libevdev_free(dev_);
  if (fd_ >= 0) ::close(fd_);
}

std::string EventReader::name() const {
  const char* text = dev_ ? libevdev_get_name(dev_) : nullptr;
  return text ? text : "";
}

std::optional<input_event> EventReader::next(milliseconds timeout) {
  if (!dev_) return std::nullopt;
  auto deadline = Clock::now() + timeout;
  for (;;) {
    input_event event{};
    int rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &event);
    if (rc == LIBEVDEV_READ_STATUS_SYNC) {
      // Events were dropped: take the state libevdev resynced, then go on.
      while (libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_SYNC, &event) ==
             LIBEVDEV_READ_STATUS_SYNC) {
      }
      input_event dropped{};
      dropped.type = EV_SYN;
      dropped.code = SYN_DROPPED;
      return dropped;
    }
    if (rc == LIBEVDEV_READ_STATUS_SUCCESS) return event;
    if (rc != -EAGAIN) return std::nullopt;
    pollfd fd{fd_, POLLIN, 0};
    int wait = remainingMs(deadline);
    if (wait == 0 || ::poll(&fd, 1, wait) <= 0) return std::nullopt;
  }
}

std::vector<input_event> EventReader::frame(milliseconds timeout) {
  std::vector<input_event> events;
  auto deadline = Clock::now() + timeout;
  while (auto event = next(milliseconds(remainingMs(deadline)))) {
    events.push_back(*event);
    if (event->type == EV_SYN && event->code == SYN_REPORT) break;
  }
  return events;
}

void EventReader::drain() {
  while (next(milliseconds(0))) {
  }
}

int EventReader::grab() {
  if (fd_ < 0) return EBADF;
  if (::ioctl(fd_, EVIOCGRAB, 1) < 0) return errno;
  ::ioctl(fd_, EVIOCGRAB, 0);
  return 0;
}

std::vector<int> EventReader::keysDown() const {
  std::vector<int> down;
  uint8_t bits[KEY_MAX / 8 + 1] = {};
  if (fd_ < 0 || ::ioctl(fd_, EVIOCGKEY(sizeof bits), bits) < 0) return down;
  for (int code = 0; code <= KEY_MAX; ++code) {
    if (bits[code / 8] & (1 << (code % 8))) down.push_back(code);
  }
  return down;
}

std::string describe(const input_event& event) {
  const char* type = libevdev_event_type_get_name(event.type);
  const char* code = libevdev_event_code_get_name(event.type, event.code);
  char text[96];
  std::snprintf(text, sizeof text, "%s %s %d", type ? type : "?", code ? code : "?", event.value);
  return text;
}

std::string describe(const std::vector<input_event>& events) {
  std::string text;
  for (const auto& e : events) text += describe(e) + "; ";
  return text;
}

bool contains(const std::vector<input_event>& events, int type, int code, int value) {
  for (const auto& event : events) {
    if (event.type == type && event.code == code && event.value == value) return true;
  }
  return false;
}

}  // namespace velt::e2e
