// The user's systemd instance, through `systemctl --user`, which reaches it
// over its own socket whether or not the session has a bus. Without
// systemctl, or without a user instance, it runs no graphical session.
#pragma once

#include <string>
#include <vector>

#include "core/user_service_manager.h"

namespace velt {

class SystemctlUserManager : public UserServiceManager {
 public:
  bool runsGraphicalSession() override;
  bool enable(std::string_view unit) override;
  bool disable(std::string_view unit) override;
};

// Runs program (found on PATH) with arguments, its output discarded, for at
// most a few seconds; its exit status, or -1 when it did not run or end.
int runQuietly(const std::vector<std::string>& arguments);

}  // namespace velt
