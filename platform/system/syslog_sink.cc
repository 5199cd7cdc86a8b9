#include "platform/system/syslog_sink.h"

#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace velt {
namespace {
std::mutex terminalMutex;

bool setTo1(const char* name) {
  const char* value = std::getenv(name);
  return value && std::string_view(value) == "1";
}
}  // namespace

// VELT_LOG_STDERR=1 copies the log to standard error also when it is not a
// terminal (the desktop tests read it from a file). VELT_LOG_TIME=1 starts
// each line there with the wall-clock time in microseconds
// ("1765181234.567890 "), so that a benchmark can set the agent's lines
// against what another program saw (tools/bench/focus_desktop_bench.sh).
SyslogSink::SyslogSink(const char* ident)
    : terminal_(isatty(STDERR_FILENO) == 1 || setTo1("VELT_LOG_STDERR")),
      stamped_(setTo1("VELT_LOG_TIME")) {
  openlog(ident, LOG_PID, LOG_USER);
}

SyslogSink::~SyslogSink() {
  closelog();
}

void SyslogSink::line(std::string_view text) {
  syslog(LOG_NOTICE, "%.*s", static_cast<int>(text.size()), text.data());
  toTerminal(text);
}

void SyslogSink::debug(std::string_view text) {
  syslog(LOG_DEBUG, "%.*s", static_cast<int>(text.size()), text.data());
  toTerminal(text);
}

void SyslogSink::toTerminal(std::string_view text) {
  if (!terminal_) return;
  long long us = 0;
  if (stamped_) {
    us = std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
             .count();
  }
  std::lock_guard lock(terminalMutex);
  if (stamped_) std::fprintf(stderr, "%lld.%06lld ", us / 1000000, us % 1000000);
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace velt
