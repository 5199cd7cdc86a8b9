// The user's service manager (systemd's user instance), as auto-run needs it:
// the interface auto-run uses and the platform implements.
#pragma once

#include <string_view>

namespace velt {

class UserServiceManager {
 public:
  virtual ~UserServiceManager() = default;
  // Whether it runs this graphical session: its graphical-session.target is
  // active, so a unit wanted by it starts with every log-in.
  virtual bool runsGraphicalSession() = 0;
  // False, with one log line, when it would not.
  virtual bool enable(std::string_view unit) = 0;
  virtual bool disable(std::string_view unit) = 0;
};

}  // namespace velt
