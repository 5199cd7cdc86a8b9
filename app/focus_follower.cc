#include "app/focus_follower.h"

#include "core/log.h"

namespace velt {

std::string applicationIdOf(const DesktopEntries& entries, const WindowClass& window) {
  if (window.application.empty()) {
    return applicationIdForWindowClass(entries, window.instance, window.className);
  }
  std::string id = window.application;
  constexpr std::string_view kSuffix = ".desktop";
  if (id.size() > kSuffix.size() && id.ends_with(kSuffix)) id.resize(id.size() - kSuffix.size());
  if (entries.find(id)) return id;
  // A Wayland app id that is not its entry's ("firefox" for firefox-esr).
  return applicationIdForWindowClass(entries, id, id);
}

void FocusFollower::follow(FocusSource& source, DesktopEntries entries) {
  stop();
  entries_ = std::make_shared<const DesktopEntries>(std::move(entries));
  source_ = &source;
  source.watchActiveWindow([this](const std::optional<WindowClass>& window) { changed(window); });
}

void FocusFollower::stop() {
  if (source_) source_->watchActiveWindow(nullptr);
  source_ = nullptr;
}

void FocusFollower::changed(const std::optional<WindowClass>& window) {
  std::string id;
  if (window && entries_) id = applicationIdOf(*entries_, *window);
  if (!isApplicationId(id)) id.clear();
  logDebug("application in focus: %s", id.empty() ? "(none)" : id.c_str());
  profiles_.setFocusedApplication(std::move(id));
}

}  // namespace velt
