// Keeps the profiles told which application has the focus: each change the
// session's focus source reports, named by the application's desktop entry
// id, the same name on every desktop.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/desktop_entries.h"
#include "core/profiles.h"

namespace velt {

// The desktop entry id of a window's application: the one the desktop names,
// when an entry has it or no entry claims it as a window class; else the
// entry its window class leads to (StartupWMClass, then the id itself).
std::string applicationIdOf(const DesktopEntries& entries, const WindowClass& window);

// The applications of the windows, by desktop entry id, each once, in the
// windows' order, those without a valid id and own left out.
std::vector<std::string> applicationIdsOf(const DesktopEntries& entries,
                                          const std::vector<WindowClass>& windows,
                                          std::string_view own);

class FocusFollower {
 public:
  explicit FocusFollower(Profiles& profiles) : profiles_(profiles) {}
  ~FocusFollower() { stop(); }
  FocusFollower(const FocusFollower&) = delete;
  FocusFollower& operator=(const FocusFollower&) = delete;

  // Main thread: follows source from now on, naming applications by entries.
  void follow(FocusSource& source, DesktopEntries entries);
  // Main thread: names the applications of later changes by entries, read
  // again (a newly installed application's window class leads to it).
  void setEntries(DesktopEntries entries);
  // Main thread: nothing more is told once this returns.
  void stop();
  // Any thread: what the last change told.
  void changed(const std::optional<WindowClass>& window);

 private:
  Profiles& profiles_;
  FocusSource* source_ = nullptr;
  std::mutex entriesMutex_;
  std::shared_ptr<const DesktopEntries> entries_;  // guarded by entriesMutex_
};

}  // namespace velt
