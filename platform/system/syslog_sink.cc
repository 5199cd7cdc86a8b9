#include "platform/system/syslog_sink.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace velt {
namespace {
std::mutex terminalMutex;
}

// VELT_LOG_STDERR=1 copies the log to standard error also when it is not a
// terminal (the desktop tests read it from a file).
SyslogSink::SyslogSink(const char* ident)
    : terminal_(isatty(STDERR_FILENO) == 1 ||
                (std::getenv("VELT_LOG_STDERR") &&
                 std::string_view(std::getenv("VELT_LOG_STDERR")) == "1")) {
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
  std::lock_guard lock(terminalMutex);
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace velt
