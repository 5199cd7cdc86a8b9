// Process-wide logging. The agent logs short fixed texts ("initial lib...",
// "load setting ... count=%lu"); where they go is decided once at start-up by
// installing a LogSink. Tests install a capturing sink.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/clock.h"

namespace velt {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One finished line, without a trailing newline.
  virtual void line(std::string_view text) = 0;
  // A debug line; only called while debug logging is on.
  virtual void debug(std::string_view text) = 0;
};

// Installs the sink that receives every line; nullptr restores the default,
// which writes to standard error. The sink must outlive its installation.
// Every topic of logRepeating starts afresh.
void setLogSink(LogSink* sink);

void setDebugLogging(bool on);
bool debugLogging();

void logLine(std::string_view text);
void logFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A line about a fault that can come again and again, fast: a device that
// plugs and unplugs a hundred times a second, a mouse that sends nonsense at
// 1 kHz. topic names the device and the reason ("removed /dev/hidraw3").
// The first line of a topic goes out; those that follow within
// kRepeatInterval of it are only counted, and the next one after that goes
// out with the count: "... (and 57 more like it since)". Any thread.
inline constexpr std::chrono::seconds kRepeatInterval{5};
void logRepeating(std::string_view topic, std::string_view text);
void logRepeatingFormat(std::string_view topic, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// The clock that times the repeats: the system's, unless a test sets its own
// (nullptr gives the system's back).
void setLogClock(Clock* clock);

// Logs "label: 12 14 08 ..." at debug level. Cheap when debug logging is off.
void logHexDump(std::string_view label, const uint8_t* data, size_t length);

// "12 14 08" for the given bytes.
std::string hexBytes(const uint8_t* data, size_t length);

}  // namespace velt
