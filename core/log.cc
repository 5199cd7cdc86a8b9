#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

namespace velt {
namespace {

class StderrSink : public LogSink {
 public:
  void line(std::string_view text) override { write(text); }
  void debug(std::string_view text) override { write(text); }

 private:
  void write(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
  std::mutex mutex_;
};

StderrSink& defaultSink() {
  static StderrSink sink;
  return sink;
}

std::atomic<LogSink*> currentSink{nullptr};
std::atomic<bool> debugOn{false};
std::atomic<Clock*> logClock{nullptr};

// The topics of logRepeating. Bounded: a flood of topics (a device that
// comes back under a new name each time) pushes out the quiet ones first.
class Repeats {
 public:
  // The line to log now, or nothing.
  std::optional<std::string> pass(std::string_view topic, std::string_view text,
                                  Clock::TimePoint now) {
    std::lock_guard lock(mutex_);
    auto found = topics_.find(topic);
    if (found != topics_.end()) {
      Topic& t = found->second;
      if (now - t.shown < kRepeatInterval) {
        ++t.repeats;
        return std::nullopt;
      }
      std::string line(text);
      if (t.repeats > 0) line += " (and " + std::to_string(t.repeats) + " more like it since)";
      t = {now, 0};
      return line;
    }
    if (topics_.size() >= kMostTopics) forgetOldest();
    topics_.emplace(std::string(topic), Topic{now, 0});
    return std::string(text);
  }

  void clear() {
    std::lock_guard lock(mutex_);
    topics_.clear();
  }

 private:
  struct Topic {
    Clock::TimePoint shown;
    uint64_t repeats;
  };
  static constexpr size_t kMostTopics = 512;

  void forgetOldest() {
    auto oldest = topics_.begin();
    for (auto it = topics_.begin(); it != topics_.end(); ++it) {
      if (it->second.shown < oldest->second.shown) oldest = it;
    }
    topics_.erase(oldest);
  }

  std::mutex mutex_;
  std::map<std::string, Topic, std::less<>> topics_;
};

Repeats& repeats() {
  static Repeats r;
  return r;
}

LogSink& sink() {
  LogSink* s = currentSink.load(std::memory_order_acquire);
  return s ? *s : defaultSink();
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return format;
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(n);
  return big;
}

// VELT_LOG_TIME=1 starts every line with the wall-clock time in
// microseconds ("1765181234.567890 "), read once at the first line: the
// benchmarks set the agent's lines against what another program saw of the
// desktop (tools/bench/focus_desktop_bench.sh).
void toSink(std::string_view text, bool debug) {
  static const bool stamped = [] {
    const char* on = std::getenv("VELT_LOG_TIME");
    return on && std::string_view(on) == "1";
  }();
  std::string line;
  if (stamped) {
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%lld.%06lld ", us / 1000000, us % 1000000);
    line = stamp;
    line += text;
    text = line;
  }
  if (debug) {
    sink().debug(text);
  } else {
    sink().line(text);
  }
}

}  // namespace

void setLogSink(LogSink* s) {
  currentSink.store(s, std::memory_order_release);
  repeats().clear();
}
void setDebugLogging(bool on) {
  debugOn.store(on, std::memory_order_relaxed);
}
bool debugLogging() {
  return debugOn.load(std::memory_order_relaxed);
}

void logLine(std::string_view text) {
  toSink(text, false);
}

void logFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  toSink(text, false);
}

void setLogClock(Clock* clock) {
  logClock.store(clock, std::memory_order_release);
}

void logRepeating(std::string_view topic, std::string_view text) {
  Clock* clock = logClock.load(std::memory_order_acquire);
  if (auto line = repeats().pass(topic, text, (clock ? *clock : systemClock()).now())) {
    toSink(*line, false);
  }
}

void logRepeatingFormat(std::string_view topic, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  logRepeating(topic, text);
}

void logDebug(const char* format, ...) {
  if (!debugLogging()) return;
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  toSink(text, true);
}

std::string hexBytes(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i) out.push_back(' ');
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

void logHexDump(std::string_view label, const uint8_t* data, size_t length) {
  if (!debugLogging()) return;
  std::string text(label);
  text += ": ";
  text += hexBytes(data, length);
  toSink(text, true);
}

}  // namespace velt
