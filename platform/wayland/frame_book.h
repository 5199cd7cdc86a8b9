// What the Wayland overlay's pictures need that talks to no compositor:
// which buffer of a surface to paint next and what to repaint in it, the
// fade, and the hole the input region leaves around the pointer.
#pragma once

#include <QPointF>
#include <QRegion>
#include <QSize>
#include <optional>

#include "core/clock.h"

namespace velt {

// One surface's two buffers and its frames. One picture a frame: the next
// once the compositor has shown the last, each into a buffer the compositor
// has released. A buffer repaints everything that changed since it was
// itself last painted; the damage sent is what changed since the last commit.
class FrameBook {
 public:
  static constexpr int kBuffers = 2;

  // The compositor gave the surface a size: everything is to paint. A new
  // size drops both buffers (true: the caller frees them); the same size
  // keeps them, and whichever the compositor still holds stays untouched.
  bool resize(QSize size);
  QSize size() const { return size_; }
  // area (surface coordinates) changed; clipped to the surface.
  void changed(const QRegion& area);
  void changedAll() { changed(QRegion(QRect(QPoint(), size_))); }

  // The buffer to paint into now; nullopt when no picture is wanted, a frame
  // is awaited, or the compositor holds both buffers.
  std::optional<int> bufferToPaint() const;
  struct Painting {
    QRegion repaint;  // in the buffer
    QRegion damage;   // to tell the compositor
  };
  // Buffer i is painted and committed now; a frame is awaited.
  Painting paint(int i);
  // The compositor let go of buffer i, or showed the last picture. Both
  // return whether a picture is wanted and may now be painted.
  bool released(int i);
  bool frameShown();

 private:
  struct Slot {
    bool busy = false;
    QRegion stale;
  };
  QSize size_;
  Slot slots_[kBuffers];
  QRegion sinceCommit_;
  bool wanted_ = false;
  bool frameAwaited_ = false;
};

// The overlay's opacity while it fades in or out over kFadeDuration, timed on
// the clock. The fade ends at the first look once its time is up.
class Fade {
 public:
  explicit Fade(const Clock& clock) : clock_(clock) {}
  void start(double from, double to);
  void stop() { running_ = false; }
  bool running() const { return running_; }
  // The opacity now.
  double opacity();

 private:
  const Clock& clock_;
  double from_ = 1, to_ = 1, value_ = 1;
  Clock::TimePoint start_{};
  bool running_ = false;
};

// The input region of a surface of the given size that follows the pointer
// itself: all of it but the pixels around the pointer (surface coordinates),
// all of it while the pointer is unknown. sway does not find a single pixel's
// hole under the pointer; three across it does, and any move farther than a
// pixel still lands on the overlay.
QRegion inputRegionAround(QSize surface, std::optional<QPointF> pointer);

}  // namespace velt
