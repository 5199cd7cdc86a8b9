#include "platform/wayland/layer_surface.h"

#include <wayland-client.h>

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "core/log.h"
#include "platform/wayland/shared_memory.h"
#include "platform/wayland/wayland_connection.h"
// The protocol names an argument "namespace".
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "presentation-time-client-protocol.h"

namespace velt {
namespace {

// Asked for by benchmarks only: a line per picture is more than a log wants.
bool framesLogged() {
  static const bool logged = [] {
    const char* value = std::getenv("VELT_LOG_TIME");
    return value && std::string_view(value) == "1";
  }();
  return logged;
}

}  // namespace

struct LayerSurface::Feedback {
  LayerSurface* surface = nullptr;
  struct wp_presentation_feedback* feedback = nullptr;
  QPointF pointer;
  ~Feedback() {
    if (feedback) wp_presentation_feedback_destroy(feedback);
  }
};

struct LayerSurface::Buffer {
  LayerSurface* surface = nullptr;
  int slot = 0;
  wl_buffer* buffer = nullptr;
  std::unique_ptr<SharedMemory> memory;
  QImage image;  // over memory
  ~Buffer() {
    if (buffer) wl_buffer_destroy(buffer);
  }
};

struct SurfaceListeners {
  // zwlr_layer_surface_v1
  static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
                        uint32_t height) {
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    static_cast<LayerSurface*>(data)->configure(width, height);
  }
  static void closed(void* data, zwlr_layer_surface_v1*) {
    auto* self = static_cast<LayerSurface*>(data);
    self->owner_.closed(*self);
  }
  static constexpr zwlr_layer_surface_v1_listener layerListener{configure, closed};

  // wl_buffer: a picture that waited for a free buffer is painted now.
  static void release(void* data, wl_buffer*) {
    auto* buffer = static_cast<LayerSurface::Buffer*>(data);
    if (buffer->surface->book_.released(buffer->slot)) buffer->surface->paint();
  }
  static constexpr wl_buffer_listener bufferListener{release};

  // wl_surface.frame
  static void frameDone(void* data, wl_callback* callback, uint32_t ms) {
    auto* self = static_cast<LayerSurface*>(data);
    wl_callback_destroy(callback);
    if (const std::optional<QPointF> pointer = std::exchange(self->loggedPointer_, std::nullopt)) {
      const int32_t milliHz = self->output_.geometry.refreshMilliHz;
      logFormat("overlay: frame done at %u.%03u s, refresh %.3f ms, pointer %.2f,%.2f", ms / 1000,
                ms % 1000, milliHz > 0 ? 1e6 / milliHz : 0.0, pointer->x(), pointer->y());
    }
    self->frame_ = nullptr;
    self->book_.frameShown();
    self->owner_.frameShown(*self);
    self->paint();
  }
  static constexpr wl_callback_listener frameListener{frameDone};

  // wp_presentation_feedback
  static void syncOutput(void*, struct wp_presentation_feedback*, wl_output*) {}
  static void presented(void* data, struct wp_presentation_feedback*, uint32_t secondsHigh,
                        uint32_t secondsLow, uint32_t nanoseconds, uint32_t refresh, uint32_t,
                        uint32_t, uint32_t) {
    auto* feedback = static_cast<LayerSurface::Feedback*>(data);
    const uint64_t seconds = uint64_t{secondsHigh} << 32 | secondsLow;
    logFormat("overlay: frame presented at %llu.%09u s, refresh %.3f ms, pointer %.2f,%.2f",
              static_cast<unsigned long long>(seconds), nanoseconds, refresh / 1e6,
              feedback->pointer.x(), feedback->pointer.y());
    feedback->surface->feedbackDone(feedback);
  }
  static void discarded(void* data, struct wp_presentation_feedback*) {
    auto* feedback = static_cast<LayerSurface::Feedback*>(data);
    logFormat("overlay: frame discarded, pointer %.2f,%.2f", feedback->pointer.x(),
              feedback->pointer.y());
    feedback->surface->feedbackDone(feedback);
  }
  static constexpr wp_presentation_feedback_listener feedbackListener{syncOutput, presented,
                                                                      discarded};
};

LayerSurface::LayerSurface(WaylandConnection& connection, WaylandOutput& output, Owner& owner)
    : connection_(connection), output_(output), owner_(owner) {
  const WaylandConnection::Globals& g = connection.globals();
  surface_ = wl_compositor_create_surface(g.compositor);
  layer_ = zwlr_layer_shell_v1_get_layer_surface(g.layerShell, surface_, output.output,
                                                 ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                 "velt-mouse-assistant overlay");
  zwlr_layer_surface_v1_add_listener(layer_, &SurfaceListeners::layerListener, this);
  zwlr_layer_surface_v1_set_anchor(
      layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                  ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_size(layer_, 0, 0);
  zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
  zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, 0);
  applyInputRegion();
  wl_surface_commit(surface_);
}

LayerSurface::~LayerSurface() {
  if (frame_) wl_callback_destroy(frame_);
  zwlr_layer_surface_v1_destroy(layer_);
  wl_surface_destroy(surface_);
}

QSize LayerSurface::size() const {
  return configured_ ? book_.size() : output_.geometry.logical().size();
}

void LayerSurface::applyInputRegion() {
  const QRegion area = owner_.inputRegion(*this);
  wl_region* region = wl_compositor_create_region(connection_.globals().compositor);
  for (const QRect& r : area) wl_region_add(region, r.x(), r.y(), r.width(), r.height());
  wl_surface_set_input_region(surface_, region);
  wl_region_destroy(region);
}

void LayerSurface::updateInputRegion() {
  applyInputRegion();
  if (configured_) wl_surface_commit(surface_);
}

void LayerSurface::configure(uint32_t width, uint32_t height) {
  QSize size(static_cast<int>(width), static_cast<int>(height));
  if (size.isEmpty()) size = output_.geometry.logical().size();
  if (book_.resize(size)) {
    for (auto& buffer : buffers_) buffer.reset();
  }
  configured_ = true;
  applyInputRegion();
  paint();
}

void LayerSurface::changed(const QRegion& area) {
  book_.changed(area);
  paint();
}

void LayerSurface::changedAll() {
  book_.changedAll();
  paint();
}

LayerSurface::Buffer* LayerSurface::bufferFor(int slot) {
  if (buffers_[slot]) return buffers_[slot].get();
  const int scale = output_.geometry.bufferScale();
  const QSize pixels = book_.size() * scale;
  const int stride = pixels.width() * 4;
  auto buffer = std::make_unique<Buffer>();
  buffer->memory = std::make_unique<SharedMemory>(static_cast<size_t>(stride) * pixels.height());
  buffer->buffer =
      buffer->memory->buffer(connection_.globals().shm, static_cast<uint32_t>(pixels.width()),
                             static_cast<uint32_t>(pixels.height()), static_cast<uint32_t>(stride),
                             WL_SHM_FORMAT_ARGB8888);
  if (!buffer->buffer) return nullptr;
  buffer->surface = this;
  buffer->slot = slot;
  wl_buffer_add_listener(buffer->buffer, &SurfaceListeners::bufferListener, buffer.get());
  buffer->image = QImage(static_cast<uchar*>(buffer->memory->data), pixels.width(), pixels.height(),
                         stride, QImage::Format_ARGB32_Premultiplied);
  buffer->image.setDevicePixelRatio(scale);
  buffers_[slot] = std::move(buffer);
  return buffers_[slot].get();
}

void LayerSurface::paint() {
  if (!configured_ || connection_.isLost()) return;
  const std::optional<int> slot = book_.bufferToPaint();
  if (!slot) return;  // painted when the frame is shown or a buffer comes back
  Buffer* buffer = bufferFor(*slot);
  if (!buffer) return;
  const FrameBook::Painting painting = book_.paint(*slot);
  std::optional<QPointF> pointer;
  {
    QPainter painter(&buffer->image);
    pointer = owner_.draw(*this, painter, painting.repaint);
  }
  showsPicture_ = pointer.has_value();
  if (pointer && framesLogged()) askWhenPresented(*pointer);
  wl_surface_attach(surface_, buffer->buffer, 0, 0);
  for (const QRect& r : painting.damage) {
    wl_surface_damage(surface_, r.x(), r.y(), r.width(), r.height());
  }
  frame_ = wl_surface_frame(surface_);
  wl_callback_add_listener(frame_, &SurfaceListeners::frameListener, this);
  if (output_.geometry.scale > 1) wl_surface_set_buffer_scale(surface_, output_.geometry.scale);
  wl_surface_commit(surface_);
  owner_.committed(*this);
}

void LayerSurface::askWhenPresented(QPointF pointer) {
  const WaylandConnection::Globals& g = connection_.globals();
  static bool clockTold = false;
  if (!std::exchange(clockTold, true)) {
    if (!g.presentation) {
      logFormat(
          "overlay: the compositor offers no wp_presentation; frames are timed by their callbacks");
    } else if (g.presentationClock != uint32_t{CLOCK_MONOTONIC}) {
      logFormat("overlay: the compositor's frame times are on clock %d, not CLOCK_MONOTONIC",
                g.presentationClock ? static_cast<int>(*g.presentationClock) : -1);
    }
  }
  loggedPointer_ = pointer;
  if (!g.presentation) return;
  auto feedback = std::make_unique<Feedback>();
  feedback->surface = this;
  feedback->pointer = pointer;
  feedback->feedback = wp_presentation_feedback(g.presentation, surface_);
  wp_presentation_feedback_add_listener(feedback->feedback, &SurfaceListeners::feedbackListener,
                                        feedback.get());
  feedback_.push_back(std::move(feedback));
}

void LayerSurface::feedbackDone(Feedback* feedback) {
  std::erase_if(feedback_, [feedback](const auto& f) { return f.get() == feedback; });
}

}  // namespace velt
