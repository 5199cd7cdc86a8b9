#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
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
  sink().line(text);
}

void logFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  sink().line(text);
}

void setLogClock(Clock* clock) {
  logClock.store(clock, std::memory_order_release);
}

void logRepeating(std::string_view topic, std::string_view text) {
  Clock* clock = logClock.load(std::memory_order_acquire);
  if (auto line = repeats().pass(topic, text, (clock ? *clock : systemClock()).now())) {
    sink().line(*line);
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
  sink().debug(text);
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
  sink().debug(text);
}

}  // namespace velt
