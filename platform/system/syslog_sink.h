// Log lines go to the system log, and to standard error as well when that is
// a terminal.
#pragma once

#include "core/log.h"

namespace velt {

class SyslogSink : public LogSink {
 public:
  explicit SyslogSink(const char* ident);
  ~SyslogSink() override;
  void line(std::string_view text) override;
  void debug(std::string_view text) override;

 private:
  void toTerminal(std::string_view text);
  bool terminal_;
  bool stamped_;
};

}  // namespace velt
