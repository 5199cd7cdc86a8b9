// Keeps the profiles told which application has the focus: each change the
// session's focus source reports, named by the application's desktop entry
// id, the same name on every desktop.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "actions/synthetic_input.h"
#include "core/desktop_entries.h"
#include "core/profiles.h"

namespace velt {

// The desktop entry id of a window's application: the one the desktop names,
// when an entry has it or no entry claims it as a window class; else the
// entry its window class leads to (StartupWMClass, then the id itself).
std::string applicationIdOf(const DesktopEntries& entries, const WindowClass& window);

class FocusFollower {
 public:
  explicit FocusFollower(Profiles& profiles) : profiles_(profiles) {}
  ~FocusFollower() { stop(); }
  FocusFollower(const FocusFollower&) = delete;
  FocusFollower& operator=(const FocusFollower&) = delete;

  // Main thread: follows source from now on, naming applications by entries.
  void follow(FocusSource& source, DesktopEntries entries);
  // Main thread: nothing more is told once this returns.
  void stop();
  // Any thread: what the last change told.
  void changed(const std::optional<WindowClass>& window);

 private:
  Profiles& profiles_;
  FocusSource* source_ = nullptr;
  std::shared_ptr<const DesktopEntries> entries_;
};

}  // namespace velt
