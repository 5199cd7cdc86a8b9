// The overlay's surface on one output: a layer-shell surface in the overlay
// layer, above every window including full-screen ones, anchored to all
// edges, with no keyboard interactivity and no exclusive zone; it shows in
// no task switcher. Painted with QPainter into two shared-memory
// buffers, one picture a frame (FrameBook): a move while the compositor has
// not yet shown the last picture is painted as its frame callback comes.
//
// With VELT_LOG_TIME=1 every picture of the overlay asks the compositor
// (wp_presentation) when it reached the screen, and the log gets a line for
// each: "overlay: frame presented at SECONDS s, refresh MS ms, pointer X,Y"
// (the compositor's clock, CLOCK_MONOTONIC unless the log says otherwise;
// the pointer in global compositor coordinates), or "overlay: frame
// discarded, pointer X,Y" for one the compositor never showed. Since a
// compositor may present nothing (sway 1.7's headless outputs answer no
// feedback until a later commit discards it), the frame callback that
// follows each such picture is logged too: "overlay: frame done at SECONDS s,
// refresh MS ms, pointer X,Y", the callback's time (milliseconds of the
// compositor's clock) and the output mode's refresh interval.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRegion>
#include <memory>
#include <optional>
#include <vector>

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
    // Paints area (surface coordinates) of the next picture; returns where
    // it drew the pointer (global coordinates), nullopt when it drew nothing.
    virtual std::optional<QPointF> draw(LayerSurface&, QPainter& painter, const QRegion& area) = 0;
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
  struct Feedback;

 private:
  void configure(uint32_t width, uint32_t height);
  void paint();
  Buffer* bufferFor(int slot);
  void applyInputRegion();
  void askWhenPresented(QPointF pointer);
  void feedbackDone(Feedback* feedback);

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
  std::vector<std::unique_ptr<Feedback>> feedback_;  // awaited, with VELT_LOG_TIME=1
  std::optional<QPointF> loggedPointer_;             // of the picture whose frame is awaited

  friend struct SurfaceListeners;
};

}  // namespace velt
