// Process-wide logging. The agent logs short fixed texts ("initial lib...",
// "load setting ... count=%lu"); where they go is decided once at start-up by
// installing a LogSink. Tests install a capturing sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
void setLogSink(LogSink* sink);

void setDebugLogging(bool on);
bool debugLogging();

void logLine(std::string_view text);
void logFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs "label: 12 14 08 ..." at debug level. Cheap when debug logging is off.
void logHexDump(std::string_view label, const uint8_t* data, size_t length);

// "12 14 08" for the given bytes.
std::string hexBytes(const uint8_t* data, size_t length);

}  // namespace velt
