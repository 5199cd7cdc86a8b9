#include "platform/wayland/layer_surface.h"

#include <wayland-client.h>

#include <QPainter>

#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_screencopy.h"
// The protocol names an argument "namespace".
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace velt {

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
  static void frameDone(void* data, wl_callback* callback, uint32_t) {
    auto* self = static_cast<LayerSurface*>(data);
    wl_callback_destroy(callback);
    self->frame_ = nullptr;
    self->book_.frameShown();
    self->owner_.frameShown(*self);
    self->paint();
  }
  static constexpr wl_callback_listener frameListener{frameDone};
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
  if (!buffer->memory->data) return nullptr;
  wl_shm_pool* pool = wl_shm_create_pool(connection_.globals().shm, buffer->memory->fd,
                                         static_cast<int32_t>(buffer->memory->size));
  buffer->buffer = wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(), stride,
                                             WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
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
  {
    QPainter painter(&buffer->image);
    showsPicture_ = owner_.draw(*this, painter, painting.repaint);
  }
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

}  // namespace velt
