// The overlay's only view: the dimmed screen with a clear square around the
// pointer (draw mode 0), a red pointer dot (1), or a lens that shows the
// screen under the pointer enlarged twice (2). It does not follow the pointer
// by itself; redrawScreen moves the picture.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/settings.h"
#include "overlay/spotlight_geometry.h"

namespace velt {

class SpotlightView : public QWidget {
 public:
  explicit SpotlightView(const Settings& settings, QWidget* parent = nullptr);

  void setMode(int32_t drawMode);
  int32_t getDrawMode() const { return drawMode_; }

  // The picture the magnifier enlarges: the overlay's screen, taken while
  // the overlay was hidden. Kept until the next one.
  void saveScreen(QImage snapshot);
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
  std::function<QPoint()> pointerSource_;
};

}  // namespace velt
