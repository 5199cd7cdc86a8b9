#include "platform/wayland/wayland_toplevels.h"

#include <wayland-client.h>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace velt {

struct ToplevelListeners {
  using T = WaylandToplevels;

  static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<T*>(data);
    self->handles_[handle] = std::make_unique<T::Toplevel>();
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, self);
  }
  static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    static_cast<T*>(data)->manager_ = nullptr;
  }
  static constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener{toplevel, finished};

  static T::Toplevel* find(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto& handles = static_cast<T*>(data)->handles_;
    auto it = handles.find(handle);
    return it == handles.end() ? nullptr : it->second.get();
  }
  static void title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
  static void appId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* id) {
    if (auto* t = find(data, handle)) t->pendingAppId = id;
  }
  static void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void state(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
    auto* t = find(data, handle);
    if (!t) return;
    t->pendingActivated = false;
    const auto* values = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
      if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) t->pendingActivated = true;
    }
  }
  static void done(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    if (auto* t = find(data, handle)) {
      t->appId = t->pendingAppId;
      t->activated = t->pendingActivated;
      static_cast<T*>(data)->updateActive();
    }
  }
  static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<T*>(data);
    self->handles_.erase(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    self->updateActive();
  }
  static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
  static constexpr zwlr_foreign_toplevel_handle_v1_listener toplevelListener{
      title, appId, outputEnter, outputLeave, state, done, closed, parent};
};

WaylandToplevels::~WaylandToplevels() {
  for (auto& [handle, t] : handles_) zwlr_foreign_toplevel_handle_v1_destroy(handle);
  if (manager_) zwlr_foreign_toplevel_manager_v1_destroy(manager_);
}

void WaylandToplevels::track(zwlr_foreign_toplevel_manager_v1* manager) {
  manager_ = manager;
  zwlr_foreign_toplevel_manager_v1_add_listener(manager, &ToplevelListeners::managerListener, this);
}

std::optional<std::string> WaylandToplevels::activeAppId() {
  std::lock_guard lock(mutex_);
  return activeAppId_;
}

std::vector<WindowClass> WaylandToplevels::openWindows() {
  std::lock_guard lock(mutex_);
  std::vector<WindowClass> out;
  for (const std::string& id : appIds_) out.push_back({id, id, id});
  return out;
}

std::optional<WindowClass> WaylandToplevels::activeWindow() {
  std::optional<std::string> id = activeAppId();
  if (!id) return std::nullopt;
  return WindowClass{*id, *id, *id};
}

void WaylandToplevels::updateActive() {
  std::optional<std::string> active;
  std::vector<std::string> appIds;
  for (auto& [handle, t] : handles_) {
    if (t->activated) active = t->appId;
    if (!t->appId.empty()) appIds.push_back(t->appId);
  }
  {
    std::lock_guard lock(mutex_);
    activeAppId_ = active;
    appIds_ = std::move(appIds);
  }
  notices_.tell(activeWindow());
}

}  // namespace velt
