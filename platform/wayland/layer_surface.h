// The overlay's surface on one output: a layer-shell surface in the overlay
// layer, above every window including full-screen ones, anchored to all
// edges, with no keyboard interactivity and no exclusive zone; it shows in
// no task switcher. Painted with QPainter into two shared-memory
// buffers, one picture a frame (FrameBook).
#pragma once

#include <QImage>
#include <QRegion>
#include <memory>

#include "platform/wayland/frame_book.h"

class QPainter;
struct wl_buffer;
struct wl_callback;
struct wl_surface;
struct zwlr_layer_surface_v1;

namespace velt {

class WaylandConnection;
struct WaylandOutput;

class LayerSurface {
 public:
  // What the surface asks of its owner, from inside the connection's
  // dispatch or a call to changed.
  class Owner {
   public:
    // Where the surface takes pointer input (surface coordinates).
    virtual QRegion inputRegion(LayerSurface&) = 0;
    // The compositor closed the surface; the owner destroys it.
    virtual void closed(LayerSurface&) = 0;
    // The compositor showed the last picture; the next may be painted.
    virtual void frameShown(LayerSurface&) = 0;
    // Paints area (surface coordinates) of the next picture; returns
    // whether it drew the overlay rather than nothing.
    virtual bool draw(LayerSurface&, QPainter& painter, const QRegion& area) = 0;
    // A picture went to the compositor.
    virtual void committed(LayerSurface&) = 0;

   protected:
    ~Owner() = default;
  };

  // Maps a surface on output.
  LayerSurface(WaylandConnection& connection, WaylandOutput& output, Owner& owner);
  ~LayerSurface();
  LayerSurface(const LayerSurface&) = delete;
  LayerSurface& operator=(const LayerSurface&) = delete;

  WaylandOutput& output() const { return output_; }
  wl_surface* surface() const { return surface_; }
  bool isConfigured() const { return configured_; }
  // The configured size, or the output's until then.
  QSize size() const;
  // The last picture drew the overlay, not nothing.
  bool showsPicture() const { return showsPicture_; }

  // Asks the owner for the input region again; shown at once when the
  // surface is configured.
  void updateInputRegion();
  // area changed; painted as soon as a frame and a buffer allow.
  void changed(const QRegion& area);
  void changedAll();

  struct Buffer;

 private:
  void configure(uint32_t width, uint32_t height);
  void paint();
  Buffer* bufferFor(int slot);
  void applyInputRegion();

  WaylandConnection& connection_;
  WaylandOutput& output_;
  Owner& owner_;
  wl_surface* surface_ = nullptr;
  zwlr_layer_surface_v1* layer_ = nullptr;
  wl_callback* frame_ = nullptr;
  bool configured_ = false;
  bool showsPicture_ = false;
  FrameBook book_;
  std::unique_ptr<Buffer> buffers_[FrameBook::kBuffers];

  friend struct SurfaceListeners;
};

}  // namespace velt
