// The overlay's only view: the dimmed screen with a clear square around the
// pointer (draw mode 0), a red pointer dot (1), or a lens that shows the
// screen under the pointer enlarged twice (2). It does not follow the pointer
// by itself; redrawScreen moves the picture.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/geometry.h"
#include "core/settings.h"
#include "overlay/spotlight_geometry.h"

class QPainter;

namespace velt {

// Pictures that painting keeps from one frame to the next, each made again
// when what it depends on changes: the spotlight's hole in its dimmed square,
// the pointer dot, the lens's shape and rims, the backdrop dimmed. With them
// a frame at one device pixel per point and full opacity is a few copies of
// pictures, which Qt makes on the calling thread. Shapes, which the other
// frames fill, Qt fills in pieces across its thread pool, at the cost of a
// hand-over between threads for each piece.
struct SpotlightSprites {
  int32_t holeSize = -1;
  QImage hole;  // the dim colour around a clear rounded square, a pixel wider each way
  QImage dot;
  int32_t lensSide = -1;
  QImage lensShape;  // alpha: how much of each pixel the lens covers
  QImage lensRims;
  QImage lens;  // this frame's lens
  qint64 dimmedFrom = 0;
  QImage dimmedBackdrop;
};

// What one picture of the overlay shows. The pointer is in screen points
// with y growing upwards from the bottom of the screen.
struct SpotlightScene {
  int32_t drawMode = 0;
  PointF pointer;
  int32_t spotlightSize = 310;
  QSize screen;                         // nothing is painted beyond it
  QImage snapshot;                      // what the magnifier enlarges
  QImage backdrop;                      // painted under the overlay when nothing shows through
  double opacity = 1;                   // the fades
  SpotlightSprites* sprites = nullptr;  // none: every frame fills the shapes
};

// Paints the scene's area inside dirty (view coordinates, origin at the top
// left of the screen) with "replace the pixels" semantics: see-through
// pixels stay see-through. Shared by the Qt view and the Wayland overlay.
void paintSpotlight(QPainter& painter, const QRegion& dirty, const SpotlightScene& scene);

class SpotlightView : public QWidget {
 public:
  explicit SpotlightView(const Settings& settings, QWidget* parent = nullptr);

  void setMode(int32_t drawMode);
  int32_t getDrawMode() const { return drawMode_; }
  int32_t spotlightSize() const { return settings_.spotlightSize.load(std::memory_order_relaxed); }

  // The picture the magnifier enlarges: the overlay's screen, taken while
  // the overlay was hidden. Kept until the next one.
  void saveScreen(QImage snapshot);
  // A fresh picture of part of the screen (area, in screen points from the
  // top left) goes into the snapshot, and the lens about the pointer is
  // repainted. Without a snapshot of the screen's size, one holding only
  // such parts is started.
  void updateSnapshot(const QRect& area, const QImage& picture);
  // The size of the screen the overlay covers (the view is a point larger
  // each way); nothing is painted beyond it.
  void setScreenSize(QSize size);
  // Without a compositing manager nothing shows through the overlay; it then
  // paints over this picture of the screen instead. Null: see-through.
  void setBackdrop(QImage backdrop);
  bool hasBackdrop() const { return !backdrop_.isNull(); }

  // Moves the picture to the pointer, repainting the area around the last
  // pointer position and around the new one. The first call repaints all.
  void redrawScreen();

  // Where the pointer is, in view coordinates; the cursor by default.
  void setPointerSource(std::function<QPoint()> source) { pointerSource_ = std::move(source); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Marks an area, or the whole view, for repainting.
  virtual void markDirty(const QRect& area);
  virtual void markAllDirty();

 private:
  PointF currentPointer() const;
  void invalidateAround(PointF pointer);

  const Settings& settings_;
  int32_t drawMode_ = 0;
  QSize screenSize_;
  std::optional<PointF> lastPointer_;  // y up from the bottom of the screen
  QImage snapshot_;
  QImage backdrop_;
  SpotlightSprites sprites_;
  std::function<QPoint()> pointerSource_;
};

}  // namespace velt
