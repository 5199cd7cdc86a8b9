#include "platform/wayland/wayland_connection.h"

#include <poll.h>
#include <wayland-client.h>

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/log.h"
#include "ext-window-capture-client-protocol.h"
#include "presentation-time-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
// The protocol names an argument "namespace".
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace velt {

struct ConnectionListeners {
  using C = WaylandConnection;

  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                     uint32_t version) {
    auto* self = static_cast<C*>(data);
    C::Globals& g = self->globals_;
    auto bind = [&](const wl_interface* which, uint32_t wanted) {
      return wl_registry_bind(registry, name, which, std::min(version, wanted));
    };
    const std::string_view what = interface;
    if (what == wl_compositor_interface.name) {
      g.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (what == wl_shm_interface.name) {
      g.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (what == wl_seat_interface.name && !g.seat) {
      g.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
      wl_seat_add_listener(g.seat, &seatListener, self);
    } else if (what == wl_output_interface.name) {
      auto output = std::make_unique<WaylandOutput>(
          name, static_cast<wl_output*>(bind(&wl_output_interface, 2)));
      if (g.xdgOutputs) output->describeWith(g.xdgOutputs);
      self->outputs_.push_back(std::move(output));
      if (self->client_) self->client_->outputAdded(*self->outputs_.back());
    } else if (what == zxdg_output_manager_v1_interface.name) {
      g.xdgOutputs =
          static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
      for (auto& output : self->outputs_) output->describeWith(g.xdgOutputs);
    } else if (what == zwlr_layer_shell_v1_interface.name) {
      g.layerShell = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 4));
    } else if (what == zwlr_screencopy_manager_v1_interface.name) {
      g.screencopy =
          static_cast<zwlr_screencopy_manager_v1*>(bind(&zwlr_screencopy_manager_v1_interface, 1));
    } else if (what == zwlr_foreign_toplevel_manager_v1_interface.name && self->client_) {
      self->client_->toplevelsOffered(static_cast<zwlr_foreign_toplevel_manager_v1*>(
          bind(&zwlr_foreign_toplevel_manager_v1_interface, 2)));
    } else if (what == zwlr_virtual_pointer_manager_v1_interface.name) {
      g.virtualPointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
          bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (what == ext_foreign_toplevel_list_v1_interface.name && self->client_) {
      self->client_->windowListOffered(static_cast<ext_foreign_toplevel_list_v1*>(
          bind(&ext_foreign_toplevel_list_v1_interface, 1)));
    } else if (what == ext_foreign_toplevel_image_capture_source_manager_v1_interface.name) {
      g.windowSources = static_cast<ext_foreign_toplevel_image_capture_source_manager_v1*>(
          bind(&ext_foreign_toplevel_image_capture_source_manager_v1_interface, 1));
    } else if (what == ext_image_copy_capture_manager_v1_interface.name) {
      g.imageCopies = static_cast<ext_image_copy_capture_manager_v1*>(
          bind(&ext_image_copy_capture_manager_v1_interface, 1));
    } else if (what == wp_presentation_interface.name) {
      g.presentation = static_cast<wp_presentation*>(bind(&wp_presentation_interface, 1));
      wp_presentation_add_listener(g.presentation, &presentationListener, self);
    }
  }

  static void globalRemove(void* data, wl_registry*, uint32_t name) {
    auto* self = static_cast<C*>(data);
    auto& outputs = self->outputs_;
    for (auto it = outputs.begin(); it != outputs.end(); ++it) {
      if ((*it)->globalName != name) continue;
      if (self->client_) self->client_->outputRemoved(**it);
      outputs.erase(it);
      return;
    }
  }
  static constexpr wl_registry_listener registryListener{global, globalRemove};

  static void capabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* self = static_cast<C*>(data);
    if (self->client_) self->client_->seatCapabilities(seat, caps);
  }
  static void seatName(void*, wl_seat*, const char*) {}
  static constexpr wl_seat_listener seatListener{capabilities, seatName};

  static void clockId(void* data, wp_presentation*, uint32_t clock) {
    static_cast<C*>(data)->globals_.presentationClock = clock;
  }
  static constexpr wp_presentation_listener presentationListener{clockId};
};

std::unique_ptr<WaylandConnection> WaylandConnection::connect(Client* client) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) return nullptr;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    logFormat("Wayland: cannot connect to \"%s\" (%s)", name, std::strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<WaylandConnection>(new WaylandConnection(display, client));
}

WaylandConnection::WaylandConnection(wl_display* display, Client* client)
    : display_(display), client_(client) {}

bool WaylandConnection::bindGlobals() {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &ConnectionListeners::registryListener, this);
  // The globals, then what the new objects sent (outputs' names and places).
  if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
    logFormat("Wayland: the compositor closed the connection while it was set up");
    return false;
  }
  return true;
}

WaylandConnection::~WaylandConnection() {
  notifier_.reset();
  outputs_.clear();
  Globals& g = globals_;
  if (g.presentation) wp_presentation_destroy(g.presentation);
  if (g.imageCopies) ext_image_copy_capture_manager_v1_destroy(g.imageCopies);
  if (g.windowSources)
    ext_foreign_toplevel_image_capture_source_manager_v1_destroy(g.windowSources);
  if (g.virtualPointers) zwlr_virtual_pointer_manager_v1_destroy(g.virtualPointers);
  if (g.screencopy) zwlr_screencopy_manager_v1_destroy(g.screencopy);
  if (g.layerShell) zwlr_layer_shell_v1_destroy(g.layerShell);
  if (g.xdgOutputs) zxdg_output_manager_v1_destroy(g.xdgOutputs);
  if (g.seat) wl_seat_destroy(g.seat);
  if (g.shm) wl_shm_destroy(g.shm);
  if (g.compositor) wl_compositor_destroy(g.compositor);
  if (registry_) wl_registry_destroy(registry_);
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

WaylandOutput* WaylandConnection::outputAt(PointF global) const {
  for (auto& output : outputs_) {
    if (output->geometry.contains(global)) return output.get();
  }
  return nullptr;
}

void WaylandConnection::watch() {
  notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
  // Requests made anywhere on the main thread go out before it sleeps.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, notifier_.get(),
                     [this] { flush(); });
  }
}

void WaylandConnection::flush() {
  if (lost_) return;
  wl_display_dispatch_pending(display_);
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) lose();
}

void WaylandConnection::readEvents() {
  if (lost_) return;
  if (wl_display_prepare_read(display_) == 0) {
    if (wl_display_read_events(display_) < 0) return lose();
  }
  if (wl_display_dispatch_pending(display_) < 0) return lose();
  flush();
}

void WaylandConnection::lose() {
  if (lost_) return;
  lost_ = true;
  if (notifier_) notifier_->setEnabled(false);
  const int error = wl_display_get_error(display_);
  if (client_) client_->connectionLost(error ? error : EPIPE);
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done,
                                      std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (lost_) return false;
    if (wl_display_dispatch_pending(display_) < 0) {
      lose();
      return false;
    }
    if (done()) break;
    wl_display_flush(display_);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (wl_display_prepare_read(display_) != 0) continue;
    pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      wl_display_cancel_read(display_);
      continue;
    }
    if (wl_display_read_events(display_) < 0) {
      lose();
      return false;
    }
  }
  return true;
}

}  // namespace velt
