// The focused application where the compositor offers wlr foreign-toplevel:
// the activated toplevel's app id. Fed by the connection's dispatch, which
// also tells each change; read from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/synthetic_input.h"

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace velt {

class WaylandToplevels {
 public:
  WaylandToplevels() = default;
  ~WaylandToplevels();
  WaylandToplevels(const WaylandToplevels&) = delete;
  WaylandToplevels& operator=(const WaylandToplevels&) = delete;

  // Follows the manager's toplevels, and owns it. Dispatching thread.
  void track(zwlr_foreign_toplevel_manager_v1* manager);
  // Whether the compositor still reports toplevels. Dispatching thread.
  bool tracking() const { return manager_ != nullptr; }
  // Any thread.
  std::optional<std::string> activeAppId();
  // The activated toplevel, its app id in every field.
  std::optional<WindowClass> activeWindow();
  // Each toplevel's app id, its app id in every field. Any thread.
  std::vector<WindowClass> openWindows();
  // As FocusSource: told on the dispatching thread.
  void watchActiveWindow(FocusSource::Handler handler) {
    notices_.setHandler(std::move(handler), [this] { return activeWindow(); });
  }

  // What a handle said so far; done applies what came since the last done.
  struct Toplevel {
    std::string appId;
    bool activated = false;
    std::string pendingAppId;
    bool pendingActivated = false;
  };

 private:
  // After a toplevel changed or went: what the other threads read.
  void updateActive();

  zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
  std::map<zwlr_foreign_toplevel_handle_v1*, std::unique_ptr<Toplevel>> handles_;
  std::mutex mutex_;
  std::optional<std::string> activeAppId_;  // guarded by mutex_
  std::vector<std::string> appIds_;         // guarded by mutex_
  FocusNotices notices_;

  friend struct ToplevelListeners;
};

}  // namespace velt
