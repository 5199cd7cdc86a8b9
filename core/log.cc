#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

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
