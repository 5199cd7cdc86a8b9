#include "app/focus_follower.h"

#include <algorithm>

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

std::vector<std::string> applicationIdsOf(const DesktopEntries& entries,
                                          const std::vector<WindowClass>& windows,
                                          std::string_view own) {
  std::vector<std::string> ids;
  for (const WindowClass& window : windows) {
    std::string id = applicationIdOf(entries, window);
    if (isApplicationId(id) && id != own && std::find(ids.begin(), ids.end(), id) == ids.end()) {
      ids.push_back(std::move(id));
    }
  }
  return ids;
}

void FocusFollower::follow(FocusSource& source, DesktopEntries entries) {
  stop();
  setEntries(std::move(entries));
  source_ = &source;
  source.watchActiveWindow([this](const std::optional<WindowClass>& window) { changed(window); });
}

void FocusFollower::setEntries(DesktopEntries entries) {
  auto shared = std::make_shared<const DesktopEntries>(std::move(entries));
  std::lock_guard lock(entriesMutex_);
  entries_ = std::move(shared);
}

void FocusFollower::stop() {
  if (source_) source_->watchActiveWindow(nullptr);
  source_ = nullptr;
}

void FocusFollower::changed(const std::optional<WindowClass>& window) {
  std::shared_ptr<const DesktopEntries> entries;
  {
    std::lock_guard lock(entriesMutex_);
    entries = entries_;
  }
  std::string id;
  if (window && entries) id = applicationIdOf(*entries, *window);
  if (!isApplicationId(id)) id.clear();
  logDebug("application in focus: %s", id.empty() ? "(none)" : id.c_str());
  profiles_.setFocusedApplication(std::move(id));
}

}  // namespace velt
