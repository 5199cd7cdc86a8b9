#include "platform/wayland/wayland_overlay.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/log.h"
#include "overlay/spotlight_geometry.h"
#include "overlay/spotlight_view.h"
#include "platform/wayland/wayland_screencopy.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
// The protocol names an argument "namespace".
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace velt {
namespace {

// How long a magnifier waits for its picture before it shows without one.
constexpr int kPictureWait = 2000;  // ms

}  // namespace

struct WaylandOverlay::Buffer {
  Output* output = nullptr;  // whose picture it holds; none for a screen picture
  wl_buffer* buffer = nullptr;
  std::unique_ptr<SharedMemory> memory;
  void* data = nullptr;
  QImage image;  // over data
  bool busy = false;
  QRegion stale;  // what changed since this buffer was painted
  ~Buffer() {
    if (buffer) wl_buffer_destroy(buffer);
  }
};

struct WaylandOverlay::Output {
  WaylandOverlay* owner = nullptr;
  uint32_t globalName = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  std::string name;
  QRect logical;  // in global compositor coordinates
  int32_t scale = 1;
  // While the overlay shows:
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  QSize size;  // configured
  bool configured = false;
  std::unique_ptr<Buffer> buffers[2];
  wl_callback* frame = nullptr;
  bool paintWanted = false;
  QRegion sinceCommit;        // what the next commit changes
  bool showsPicture = false;  // the last paint drew the overlay, not nothing
};

struct WaylandOverlay::Toplevel {
  std::string appId;
  bool activated = false;
  std::string pendingAppId;
  bool pendingActivated = false;
};

namespace {

// The pixels around the pointer, which the input region leaves out. sway
// does not find a single pixel's hole under the pointer; three across it
// does, and any move farther than a pixel still lands on the overlay.
QRect holeAt(QPointF local) {
  return {static_cast<int>(std::floor(local.x())) - 1, static_cast<int>(std::floor(local.y())) - 1,
          3, 3};
}

std::string desktopName() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return desktop && *desktop ? desktop : "this Wayland compositor";
}

}  // namespace

// The compositor's events, as C callbacks.
struct WaylandListeners {
  using O = WaylandOverlay;

  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                     uint32_t version) {
    auto* self = static_cast<O*>(data);
    auto bind = [&](const wl_interface* which, uint32_t wanted) {
      return wl_registry_bind(registry, name, which, std::min(version, wanted));
    };
    const std::string_view what = interface;
    if (what == wl_compositor_interface.name) {
      self->compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (what == wl_shm_interface.name) {
      self->shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (what == wl_seat_interface.name && !self->seat_) {
      self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
      wl_seat_add_listener(self->seat_, &seatListener, self);
    } else if (what == wl_output_interface.name) {
      auto output = std::make_unique<O::Output>();
      output->owner = self;
      output->globalName = name;
      output->output = static_cast<wl_output*>(bind(&wl_output_interface, 2));
      wl_output_add_listener(output->output, &outputListener, output.get());
      if (self->xdgOutputs_) addXdgOutput(*self, *output);
      // An output plugged in while the overlay shows gets its surface too.
      if (self->shown_) self->createSurface(*output);
      self->outputs_.push_back(std::move(output));
    } else if (what == zxdg_output_manager_v1_interface.name) {
      self->xdgOutputs_ =
          static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
      for (auto& output : self->outputs_) addXdgOutput(*self, *output);
    } else if (what == zwlr_layer_shell_v1_interface.name) {
      self->layerShell_ =
          static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 4));
      self->layerShellVersion_ = std::min(version, 4u);
    } else if (what == zwlr_screencopy_manager_v1_interface.name) {
      self->screencopy_ =
          static_cast<zwlr_screencopy_manager_v1*>(bind(&zwlr_screencopy_manager_v1_interface, 1));
    } else if (what == zwlr_foreign_toplevel_manager_v1_interface.name) {
      self->toplevels_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
          bind(&zwlr_foreign_toplevel_manager_v1_interface, 2));
      zwlr_foreign_toplevel_manager_v1_add_listener(self->toplevels_, &toplevelManagerListener,
                                                    self);
    } else if (what == zwlr_virtual_pointer_manager_v1_interface.name) {
      self->virtualPointers_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
          bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
    }
  }

  static void globalRemove(void* data, wl_registry*, uint32_t name) {
    auto* self = static_cast<O*>(data);
    auto& outputs = self->outputs_;
    for (auto it = outputs.begin(); it != outputs.end(); ++it) {
      if ((*it)->globalName != name) continue;
      O::Output* gone = it->get();
      self->destroySurface(*gone);
      if (self->pointerOutput_ == gone) self->pointerOutput_ = nullptr;
      if (self->enteredOutput_ == gone) self->enteredOutput_ = nullptr;
      if (self->snapshotOutput_ == gone) self->snapshotOutput_ = nullptr;
      if (gone->xdgOutput) zxdg_output_v1_destroy(gone->xdgOutput);
      wl_output_destroy(gone->output);
      outputs.erase(it);
      return;
    }
  }

  static void addXdgOutput(O& self, O::Output& output) {
    if (output.xdgOutput) return;
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(self.xdgOutputs_, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &xdgOutputListener, &output);
  }

  // wl_output
  static void outputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t,
                             const char*, const char*, int32_t) {}
  static void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                         int32_t) {
    auto* output = static_cast<O::Output*>(data);
    // Without xdg-output the mode, divided by the scale, is the best guess.
    if ((flags & WL_OUTPUT_MODE_CURRENT) && !output->xdgOutput) {
      output->logical.setSize(QSize(width, height) / std::max(1, output->scale));
    }
  }
  static void outputDone(void*, wl_output*) {}
  static void outputScale(void* data, wl_output*, int32_t factor) {
    static_cast<O::Output*>(data)->scale = factor;
  }
  static constexpr wl_output_listener outputListener{outputGeometry, outputMode, outputDone,
                                                     outputScale,    nullptr,    nullptr};

  // zxdg_output_v1
  static void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    static_cast<O::Output*>(data)->logical.moveTo(x, y);
  }
  static void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    static_cast<O::Output*>(data)->logical.setSize({width, height});
  }
  static void xdgDone(void*, zxdg_output_v1*) {}
  static void xdgName(void* data, zxdg_output_v1*, const char* name) {
    static_cast<O::Output*>(data)->name = name;
  }
  static void xdgDescription(void*, zxdg_output_v1*, const char*) {}
  static constexpr zxdg_output_v1_listener xdgOutputListener{logicalPosition, logicalSize, xdgDone,
                                                             xdgName, xdgDescription};

  // wl_seat
  static void capabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* self = static_cast<O*>(data);
    const bool hasPointer = caps & WL_SEAT_CAPABILITY_POINTER;
    if (hasPointer && !self->pointer_) {
      self->pointer_ = wl_seat_get_pointer(seat);
      wl_pointer_add_listener(self->pointer_, &pointerListener, self);
      // A seat that had no pointer before the overlay made its virtual one:
      // the compositor looks again and tells where the pointer is.
      if (self->shown_ && self->trackPointer_) self->nudgePointer();
    } else if (!hasPointer && self->pointer_) {
      wl_pointer_release(self->pointer_);
      self->pointer_ = nullptr;
      self->enteredOutput_ = nullptr;
    }
  }
  static void seatName(void*, wl_seat*, const char*) {}
  static constexpr wl_seat_listener seatListener{capabilities, seatName};

  // wl_pointer: only ever over the overlay's own surfaces.
  static O::Output* outputOf(O& self, wl_surface* surface) {
    for (auto& output : self.outputs_) {
      if (surface && output->surface == surface) return output.get();
    }
    return nullptr;
  }
  static void enter(void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x,
                    wl_fixed_t y) {
    auto* self = static_cast<O*>(data);
    self->enteredOutput_ = outputOf(*self, surface);
    if (self->enteredOutput_) {
      self->pointerSeen(*self->enteredOutput_, wl_fixed_to_double(x), wl_fixed_to_double(y));
    }
  }
  static void leave(void* data, wl_pointer*, uint32_t, wl_surface*) {
    static_cast<O*>(data)->enteredOutput_ = nullptr;
  }
  static void motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    auto* self = static_cast<O*>(data);
    if (self->enteredOutput_) {
      self->pointerSeen(*self->enteredOutput_, wl_fixed_to_double(x), wl_fixed_to_double(y));
    }
  }
  static void button(void*, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t) {}
  static void axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
  static void frame(void*, wl_pointer*) {}
  static void axisSource(void*, wl_pointer*, uint32_t) {}
  static void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
  static void axisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
  // Set member by member: newer libwayland adds members (events of seat
  // versions above the 5 bound here, never sent to this client).
  static constexpr wl_pointer_listener pointerListener = [] {
    wl_pointer_listener l{};
    l.enter = enter;
    l.leave = leave;
    l.motion = motion;
    l.button = button;
    l.axis = axis;
    l.frame = frame;
    l.axis_source = axisSource;
    l.axis_stop = axisStop;
    l.axis_discrete = axisDiscrete;
    return l;
  }();

  // zwlr_layer_surface_v1
  static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
                        uint32_t height) {
    auto* output = static_cast<O::Output*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    output->owner->configured(*output, width, height);
  }
  static void closed(void* data, zwlr_layer_surface_v1*) {
    auto* output = static_cast<O::Output*>(data);
    output->owner->destroySurface(*output);
  }
  static constexpr zwlr_layer_surface_v1_listener layerListener{configure, closed};

  // wl_buffer
  static void release(void* data, wl_buffer*) {
    auto* buffer = static_cast<O::Buffer*>(data);
    buffer->busy = false;
    // A picture that waited for a free buffer.
    if (O::Output* output = buffer->output; output && output->paintWanted) {
      output->owner->paint(*output);
    }
  }
  static constexpr wl_buffer_listener bufferListener{release};

  // wl_surface.frame
  static void frameDone(void* data, wl_callback* callback, uint32_t) {
    auto* output = static_cast<O::Output*>(data);
    wl_callback_destroy(callback);
    output->frame = nullptr;
    O& self = *output->owner;
    if (self.fading_) self.changedAll();
    if (output->paintWanted) self.paint(*output);
  }
  static constexpr wl_callback_listener frameListener{frameDone};

  // zwlr_foreign_toplevel_manager_v1 and its handles
  static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<O*>(data);
    self->toplevelHandles_[handle] = std::make_unique<O::Toplevel>();
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, self);
  }
  static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    auto* self = static_cast<O*>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    self->toplevels_ = nullptr;
  }
  static constexpr zwlr_foreign_toplevel_manager_v1_listener toplevelManagerListener{toplevel,
                                                                                     finished};
  static O::Toplevel* find(O& self, zwlr_foreign_toplevel_handle_v1* handle) {
    auto it = self.toplevelHandles_.find(handle);
    return it == self.toplevelHandles_.end() ? nullptr : it->second.get();
  }
  static void title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
  static void appId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* id) {
    if (auto* t = find(*static_cast<O*>(data), handle)) t->pendingAppId = id;
  }
  static void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void state(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
    auto* t = find(*static_cast<O*>(data), handle);
    if (!t) return;
    t->pendingActivated = false;
    const auto* values = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
      if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) t->pendingActivated = true;
    }
  }
  static void updateActive(O& self) {
    std::optional<std::string> active;
    for (auto& [handle, t] : self.toplevelHandles_) {
      if (t->activated) active = t->appId;
    }
    std::lock_guard lock(self.activeMutex_);
    self.activeAppId_ = active;
  }
  static void done(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<O*>(data);
    if (auto* t = find(*self, handle)) {
      t->appId = t->pendingAppId;
      t->activated = t->pendingActivated;
      updateActive(*self);
    }
  }
  static void toplevelClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<O*>(data);
    self->toplevelHandles_.erase(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    updateActive(*self);
  }
  static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
  static constexpr zwlr_foreign_toplevel_handle_v1_listener toplevelListener{
      title, appId, outputEnter, outputLeave, state, done, toplevelClosed, parent};

  static constexpr wl_registry_listener registryListener{global, globalRemove};
};

// --- Connection --------------------------------------------------------------

std::unique_ptr<WaylandOverlay> WaylandOverlay::connect(const Settings& settings) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) return nullptr;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    logFormat("Wayland: cannot connect to \"%s\" (%s)", name, std::strerror(errno));
    return nullptr;
  }
  std::unique_ptr<WaylandOverlay> overlay(new WaylandOverlay(settings, display));
  if (!overlay->bindGlobals()) return nullptr;
  return overlay;
}

WaylandOverlay::WaylandOverlay(const Settings& settings, wl_display* display)
    : settings_(settings), display_(display) {}

bool WaylandOverlay::bindGlobals() {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &WaylandListeners::registryListener, this);
  // The globals, then what the new objects sent (outputs' names and places).
  if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
    logFormat("Wayland: the compositor closed the connection while it was set up");
    return false;
  }
  notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
  // Requests made anywhere on the main thread go out before it sleeps.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, notifier_.get(),
                     [this] { flush(); });
  }
  return true;
}

WaylandOverlay::~WaylandOverlay() {
  copy_.reset();
  notifier_.reset();
  for (auto& output : outputs_) {
    destroySurface(*output);
    if (output->xdgOutput) zxdg_output_v1_destroy(output->xdgOutput);
    wl_output_destroy(output->output);
  }
  outputs_.clear();
  for (auto& [handle, t] : toplevelHandles_) zwlr_foreign_toplevel_handle_v1_destroy(handle);
  if (virtualPointer_) zwlr_virtual_pointer_v1_destroy(virtualPointer_);
  if (virtualPointers_) zwlr_virtual_pointer_manager_v1_destroy(virtualPointers_);
  if (toplevels_) zwlr_foreign_toplevel_manager_v1_destroy(toplevels_);
  if (screencopy_) zwlr_screencopy_manager_v1_destroy(screencopy_);
  if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
  if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
  if (pointer_) wl_pointer_release(pointer_);
  if (seat_) wl_seat_destroy(seat_);
  if (shm_) wl_shm_destroy(shm_);
  if (compositor_) wl_compositor_destroy(compositor_);
  if (registry_) wl_registry_destroy(registry_);
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

void WaylandOverlay::flush() {
  if (connectionLost_) return;
  wl_display_dispatch_pending(display_);
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) lost();
}

void WaylandOverlay::readEvents() {
  if (connectionLost_) return;
  if (wl_display_prepare_read(display_) == 0) {
    if (wl_display_read_events(display_) < 0) return lost();
  }
  if (wl_display_dispatch_pending(display_) < 0) return lost();
  flush();
}

void WaylandOverlay::lost() {
  if (connectionLost_) return;
  connectionLost_ = true;
  notifier_->setEnabled(false);
  int error = wl_display_get_error(display_);
  logFormat("overlay: the connection to %s ended (%s); the overlay stays hidden",
            desktopName().c_str(), std::strerror(error ? error : EPIPE));
  shown_ = false;
}

bool WaylandOverlay::dispatchUntil(const std::function<bool()>& done,
                                   std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (connectionLost_) return false;
    if (wl_display_dispatch_pending(display_) < 0) {
      lost();
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
      lost();
      return false;
    }
  }
  return true;
}

// --- Pointer ------------------------------------------------------------------

void WaylandOverlay::pointerSeen(Output& output, double x, double y) {
  pointerMovedTo(
      {output.logical.x() + x, output.logical.y() + y});  // global compositor coordinates
}

void WaylandOverlay::setPointerPosition(PointF global) {
  pointerMovedTo(global);
}

void WaylandOverlay::pointerMovedTo(PointF global) {
  const std::optional<PointF> before = pointerGlobal_;
  pointerGlobal_ = global;
  pointerX_.store(global.x, std::memory_order_relaxed);
  pointerY_.store(global.y, std::memory_order_relaxed);
  pointerKnown_.store(true, std::memory_order_release);
  if (!shown_) return;
  if (trackPointer_) {
    updateInputRegions();
    nudgePointer();
  }
  Output* now = outputAt(global);
  Output* was = pointerOutput_;
  if (now && now != was) {
    // The overlay moves to the output the pointer went to.
    pointerOutput_ = now;
    if (was) changed(*was, QRegion(QRect(QPoint(), was->size)));
    changed(*now, QRegion(QRect(QPoint(), now->size)));
    return;
  }
  if (!now || !before) {
    if (now) changed(*now, QRegion(QRect(QPoint(), now->size)));
    return;
  }
  // The old and the new pointer areas.
  const int32_t size = std::max(settings_.spotlightSize.load(std::memory_order_relaxed), 44);
  const double half = size / 2 + 6;
  auto area = [&](PointF p) {
    return QRectF(p.x - now->logical.x() - half, p.y - now->logical.y() - half, 2 * half, 2 * half)
        .toAlignedRect();
  };
  changed(*now, QRegion(area(*before)) + QRegion(area(global)));
}

std::optional<PointF> WaylandOverlay::pointerPosition() {
  if (!pointerKnown_.load(std::memory_order_acquire)) return std::nullopt;
  return PointF{pointerX_.load(std::memory_order_relaxed),
                pointerY_.load(std::memory_order_relaxed)};
}

std::optional<WindowClass> WaylandOverlay::activeWindowClass() {
  std::lock_guard lock(activeMutex_);
  if (!activeAppId_) return std::nullopt;
  return WindowClass{*activeAppId_, *activeAppId_};
}

WaylandOverlay::Output* WaylandOverlay::outputAt(PointF global) {
  for (auto& output : outputs_) {
    if (QRectF(output->logical).contains(global.x, global.y)) return output.get();
  }
  return nullptr;
}

WaylandOverlay::Output* WaylandOverlay::pointerOutput() {
  if (pointerOutput_) return pointerOutput_;
  if (pointerGlobal_) pointerOutput_ = outputAt(*pointerGlobal_);
  return pointerOutput_;
}

void WaylandOverlay::setInputRegion(Output& output) {
  // Following the pointer itself, the overlay covers its output but for the
  // pixel under the pointer as last seen (all of it while that is unknown:
  // the compositor then tells where the pointer is as the surface maps).
  // Otherwise it takes no input at all.
  wl_region* region = wl_compositor_create_region(compositor_);
  if (trackPointer_) {
    const QRect all(QPoint(), output.configured ? output.size : output.logical.size());
    QRegion covered(all);
    if (pointerGlobal_) {
      covered -= holeAt(
          QPointF(pointerGlobal_->x - output.logical.x(), pointerGlobal_->y - output.logical.y()));
    }
    for (const QRect& r : covered) wl_region_add(region, r.x(), r.y(), r.width(), r.height());
  }
  wl_surface_set_input_region(output.surface, region);
  wl_region_destroy(region);
}

void WaylandOverlay::updateInputRegions() {
  for (auto& output : outputs_) {
    if (!output->surface) continue;
    setInputRegion(*output);
    if (output->configured) wl_surface_commit(output->surface);
  }
}

void WaylandOverlay::nudgePointer() {
  // The compositor looks for the surface under the pointer only when the
  // pointer moves: a move of zero has it find the window in the hole.
  if (!virtualPointers_ || !seat_) return;
  if (!virtualPointer_) {
    virtualPointer_ =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(virtualPointers_, seat_);
  }
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  zwlr_virtual_pointer_v1_motion(virtualPointer_, static_cast<uint32_t>(now.count()), 0, 0);
  zwlr_virtual_pointer_v1_frame(virtualPointer_);
}

// --- Surfaces -----------------------------------------------------------------

void WaylandOverlay::createSurface(Output& output) {
  if (output.surface || !layerShell_ || !compositor_) return;
  output.surface = wl_compositor_create_surface(compositor_);
  output.layer = zwlr_layer_shell_v1_get_layer_surface(layerShell_, output.surface, output.output,
                                                       ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                       "velt-mouse-assistant overlay");
  zwlr_layer_surface_v1_add_listener(output.layer, &WaylandListeners::layerListener, &output);
  zwlr_layer_surface_v1_set_anchor(
      output.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_size(output.layer, 0, 0);
  zwlr_layer_surface_v1_set_exclusive_zone(output.layer, -1);
  zwlr_layer_surface_v1_set_keyboard_interactivity(output.layer, 0);
  setInputRegion(output);
  wl_surface_commit(output.surface);
}

void WaylandOverlay::destroySurface(Output& output) {
  if (output.frame) wl_callback_destroy(output.frame);
  output.frame = nullptr;
  if (output.layer) zwlr_layer_surface_v1_destroy(output.layer);
  if (output.surface) wl_surface_destroy(output.surface);
  output.layer = nullptr;
  output.surface = nullptr;
  output.configured = false;
  output.paintWanted = false;
  output.showsPicture = false;
  output.buffers[0].reset();
  output.buffers[1].reset();
  if (enteredOutput_ == &output) enteredOutput_ = nullptr;
}

void WaylandOverlay::configured(Output& output, uint32_t width, uint32_t height) {
  QSize size(static_cast<int>(width), static_cast<int>(height));
  if (size.isEmpty()) size = output.logical.size();
  if (size != output.size) {
    output.buffers[0].reset();
    output.buffers[1].reset();
    output.size = size;
  }
  output.configured = true;
  setInputRegion(output);
  changed(output, QRegion(QRect(QPoint(), size)));
}

WaylandOverlay::Buffer* WaylandOverlay::freeBuffer(Output& output) {
  const int scale = std::max(1, output.scale);
  const QSize pixels = output.size * scale;
  for (auto& slot : output.buffers) {
    if (slot && slot->busy) continue;
    if (!slot) {
      auto buffer = std::make_unique<Buffer>();
      const int stride = pixels.width() * 4;
      buffer->memory =
          std::make_unique<SharedMemory>(static_cast<size_t>(stride) * pixels.height());
      if (!buffer->memory->data) return nullptr;
      buffer->data = buffer->memory->data;
      wl_shm_pool* pool =
          wl_shm_create_pool(shm_, buffer->memory->fd, static_cast<int32_t>(buffer->memory->size));
      buffer->buffer = wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(), stride,
                                                 WL_SHM_FORMAT_ARGB8888);
      wl_shm_pool_destroy(pool);
      wl_buffer_add_listener(buffer->buffer, &WaylandListeners::bufferListener, buffer.get());
      buffer->image = QImage(static_cast<uchar*>(buffer->data), pixels.width(), pixels.height(),
                             stride, QImage::Format_ARGB32_Premultiplied);
      buffer->image.setDevicePixelRatio(scale);
      buffer->stale = QRegion(QRect(QPoint(), output.size));
      buffer->output = &output;
      slot = std::move(buffer);
    }
    return slot.get();
  }
  return nullptr;
}

void WaylandOverlay::changed(Output& output, const QRegion& area) {
  const QRegion inside = area & QRect(QPoint(), output.size);
  output.sinceCommit += inside;
  for (auto& buffer : output.buffers) {
    if (buffer) buffer->stale += inside;
  }
  schedulePaint(output);
}

void WaylandOverlay::changedAll() {
  for (auto& output : outputs_) {
    if (output->surface && (output.get() == pointerOutput_ || output->showsPicture)) {
      changed(*output, QRegion(QRect(QPoint(), output->size)));
    }
  }
}

void WaylandOverlay::schedulePaint(Output& output) {
  output.paintWanted = true;
  // One picture a frame: the next one once the compositor has shown this.
  if (!output.frame) paint(output);
}

void WaylandOverlay::paint(Output& output) {
  if (!output.surface || !output.configured || output.frame || connectionLost_) return;
  Buffer* buffer = freeBuffer(output);
  if (!buffer) return;  // painted when a buffer comes back
  output.paintWanted = false;

  if (fading_) {
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - fadeStart_) /
                     std::chrono::duration<double>(kFadeDuration);
    opacity_ = fadeFrom_ + (fadeTo_ - fadeFrom_) * std::clamp(t, 0.0, 1.0);
    if (t >= 1) fading_ = false;
  }
  const bool showHere = shown_ && &output == pointerOutput() && pointerGlobal_;
  {
    QPainter painter(&buffer->image);
    if (showHere) {
      SpotlightScene scene;
      scene.drawMode = drawMode_;
      scene.pointer = {pointerGlobal_->x - output.logical.x(),
                       output.size.height() - (pointerGlobal_->y - output.logical.y())};
      scene.spotlightSize = settings_.spotlightSize.load(std::memory_order_relaxed);
      scene.screen = output.size;
      if (snapshotOutput_ == &output) scene.snapshot = snapshot_;
      scene.opacity = opacity_;
      paintSpotlight(painter, buffer->stale, scene);
    } else {
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      for (const QRect& r : buffer->stale) painter.fillRect(r, Qt::transparent);
    }
  }
  output.showsPicture = showHere;
  buffer->stale = QRegion();
  buffer->busy = true;
  wl_surface_attach(output.surface, buffer->buffer, 0, 0);
  for (const QRect& r : output.sinceCommit) {
    wl_surface_damage(output.surface, r.x(), r.y(), r.width(), r.height());
  }
  output.sinceCommit = QRegion();
  output.frame = wl_surface_frame(output.surface);
  wl_callback_add_listener(output.frame, &WaylandListeners::frameListener, &output);
  if (output.scale > 1) wl_surface_set_buffer_scale(output.surface, output.scale);
  wl_surface_commit(output.surface);
  ++framesCommitted_;
  // A compositor may not look for the surface under a pointer that stays
  // still while the overlay maps (sway 1.12 does not): a move of zero, once
  // the overlay is there to be found, has it look.
  if (trackPointer_ && !pointerGlobal_) nudgePointer();
  flush();
}

// --- OverlayWindowPort ----------------------------------------------------------

void WaylandOverlay::setMode(int32_t drawMode) {
  drawMode_ = drawMode;
}

void WaylandOverlay::saveScreen() {
  dropPicture();
  Output* output = pointerOutput();
  if (!output && !outputs_.empty()) output = outputs_.front().get();
  snapshotOutput_ = output;
  const uint64_t request = ++pictureRequest_;
  pictureAwaited_ = true;
  if (!output || connectionLost_) {
    pictureTaken(request, {}, "it has no output");
    return;
  }
  if (screencopy_) {
    copy_ = std::make_unique<ScreenCopy>(screencopy_, shm_, output->output, [this, request] {
      // Out of the dispatch that brought the answer: the copy goes now.
      QTimer::singleShot(0, notifier_.get(), [this, request] {
        if (request != pictureRequest_ || !copy_) return;
        std::optional<OutputPicture> picture = copy_->picture();
        pictureTaken(request, picture ? picture->image : QImage(), "it failed the copy");
      });
    });
    flush();
  } else if (grabber_) {
    grabber_(output->logical,
             [this, alive = std::weak_ptr<const bool>(alive_), request](QImage picture) {
               if (alive.lock()) pictureTaken(request, std::move(picture), nullptr);
             });
  } else {
    pictureTaken(request, {}, "it offers neither wlr-screencopy nor its own screenshot interface");
    return;
  }
  QTimer::singleShot(kPictureWait, notifier_.get(), [this, request] {
    pictureTaken(request, {}, "it sent none within two seconds");
  });
}

void WaylandOverlay::pictureTaken(uint64_t request, QImage picture, const char* failure) {
  if (request != pictureRequest_ || !pictureAwaited_) return;
  pictureAwaited_ = false;
  copy_.reset();
  snapshot_ = std::move(picture);
  // failure: null when the grabber has logged its own reason.
  if (snapshot_.isNull() && failure && !grabFailureLogged_) {
    grabFailureLogged_ = true;
    logFormat(
        "overlay: %s gives the agent no picture of the screen (%s); the magnifier stays empty",
        desktopName().c_str(), failure);
  }
  if (std::exchange(showWhenPictured_, false)) fadeIn();
}

void WaylandOverlay::dropPicture() {
  pictureAwaited_ = false;
  showWhenPictured_ = false;
  copy_.reset();
  snapshot_ = QImage();
  snapshotOutput_ = nullptr;
}

void WaylandOverlay::fadeIn() {
  if (!layerShell_ || connectionLost_) return;
  if (pictureAwaited_) {
    showWhenPictured_ = true;
    return;
  }
  shown_ = true;
  pointerOutput_ = nullptr;
  opacity_ = 0;
  fadeFrom_ = 0;
  fadeTo_ = 1;
  fadeStart_ = std::chrono::steady_clock::now();
  fading_ = true;
  if (trackPointer_ && virtualPointers_ && seat_ && !virtualPointer_) {
    // Made before the overlay maps: a seat without a pointer device gives
    // no client a pointer at all.
    virtualPointer_ =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(virtualPointers_, seat_);
  }
  if (following_) following_(true);
  for (auto& output : outputs_) {
    if (!output->surface) {
      createSurface(*output);
    } else {
      changed(*output, QRegion(QRect(QPoint(), output->size)));
    }
  }
  flush();
}

void WaylandOverlay::fadeOut() {
  showWhenPictured_ = false;
  if (!shown_) return;
  fadeFrom_ = 1;
  fadeTo_ = 0;
  fadeStart_ = std::chrono::steady_clock::now();
  fading_ = true;
  changedAll();
}

void WaylandOverlay::hideWindow() {
  if (shown_ && following_) following_(false);
  shown_ = false;
  fading_ = false;
  for (auto& output : outputs_) destroySurface(*output);
  pointerOutput_ = nullptr;
  dropPicture();
  flush();
}

void WaylandOverlay::redrawScreen() {
  // The overlay follows the pointer as it learns of its moves; motion from
  // the taken-over mice asks for nothing more.
}

void WaylandOverlay::setNeedsDisplay() {
  changedAll();
}

}  // namespace velt
