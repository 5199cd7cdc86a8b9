#include "overlay/spotlight_view.h"

#include <QCursor>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace velt {
namespace {

const QColor kDim = QColor::fromRgbF(0, 0, 0, 0.8f);
const QColor kDotRim = QColor::fromRgbF(1, 1, 1, 0.8f);
const QColor kDotFill = QColor::fromRgbF(1, 0, 0, 0.7f);
const QColor kLensOuterRim = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.4f);
const QColor kLensInnerRim = QColor::fromRgbF(0.8f, 0.8f, 0.8f, 0.6f);
constexpr double kLensOuterRimWidth = 5;
constexpr double kLensInnerRimWidth = 3;

QRectF toView(const RectF& r, double screenHeight) {
  RectF f = flipped(r, screenHeight);
  return {f.x, f.y, f.width, f.height};
}

QPainterPath roundedPath(const RoundedRect& r, double screenHeight) {
  QPainterPath path;
  path.addRoundedRect(toView(r.rect, screenHeight), r.radius, r.radius);
  return path;
}

// A band of the given width just inside the edge of a rounded rectangle.
void strokeInside(QPainter& painter, const RoundedRect& r, double screenHeight, double width,
                  const QColor& color) {
  double inset = width / 2;
  RoundedRect inner{
      {r.rect.x + inset, r.rect.y + inset, r.rect.width - width, r.rect.height - width},
      std::max(0.0, r.radius - inset)};
  painter.strokePath(roundedPath(inner, screenHeight), QPen(color, width));
}

// Painting with "replace the pixels" semantics. See-through, that means
// writing the colour with its alpha into the window; over a backdrop it
// means putting back the screen picture first and blending the colour over
// it, which looks the same.
class Canvas {
 public:
  Canvas(QPainter& painter, const QImage& backdrop, QSize screen) : painter_(painter) {
    if (backdrop.isNull() || screen.isEmpty()) return;
    backdrop_ = QBrush(backdrop);
    double scale = static_cast<double>(screen.width()) / backdrop.width();
    backdrop_->setTransform(QTransform::fromScale(scale, scale));
  }

  // Clearing ignores the painter's opacity: a fading overlay still
  // replaces what it painted before.
  void clear(const QPainterPath& area) {
    const double opacity = painter_.opacity();
    painter_.setOpacity(1);
    if (backdrop_) {
      painter_.fillPath(area, *backdrop_);
    } else {
      painter_.setCompositionMode(QPainter::CompositionMode_Source);
      painter_.fillPath(area, Qt::transparent);
      painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    painter_.setOpacity(opacity);
  }

  void fill(const QPainterPath& area, const QColor& color) {
    clear(area);
    painter_.fillPath(area, color);
  }

 private:
  QPainter& painter_;
  std::optional<QBrush> backdrop_;
};

}  // namespace

SpotlightView::SpotlightView(const Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  pointerSource_ = [this] { return mapFromGlobal(QCursor::pos()); };
}

void SpotlightView::setMode(int32_t drawMode) {
  drawMode_ = drawMode;
}

void SpotlightView::saveScreen(QImage snapshot) {
  snapshot_ = std::move(snapshot);
}

void SpotlightView::updateSnapshot(const QRect& area, const QImage& picture) {
  if (screenSize_.isEmpty()) return;
  if (snapshot_.isNull() ||
      snapshot_.width() * screenSize_.height() != snapshot_.height() * screenSize_.width()) {
    snapshot_ = QImage(screenSize_, QImage::Format_RGB32);
    snapshot_.fill(Qt::black);
  }
  const double k = static_cast<double>(snapshot_.width()) / screenSize_.width();
  {
    QPainter painter(&snapshot_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(area.x() * k, area.y() * k, area.width() * k, area.height() * k),
                      picture);
  }
  if (lastPointer_) invalidateAround(*lastPointer_);
}

void SpotlightView::setScreenSize(QSize size) {
  screenSize_ = size;
}

void SpotlightView::setBackdrop(QImage backdrop) {
  backdrop_ = std::move(backdrop);
}

PointF SpotlightView::currentPointer() const {
  QPoint q = pointerSource_();
  return {static_cast<double>(q.x()), static_cast<double>(screenSize_.height() - q.y())};
}

void SpotlightView::invalidateAround(PointF pointer) {
  QRectF area =
      toView(pointerArea(pointer, settings_.spotlightSize.load(std::memory_order_relaxed)),
             screenSize_.height()) &
      QRectF(rect());
  if (!area.isEmpty()) markDirty(area.toAlignedRect());
}

void SpotlightView::redrawScreen() {
  if (!lastPointer_) {
    lastPointer_ = currentPointer();
    markAllDirty();
    return;
  }
  invalidateAround(*lastPointer_);
  lastPointer_ = currentPointer();
  invalidateAround(*lastPointer_);
}

void SpotlightView::markDirty(const QRect& area) {
  update(area);
}

void SpotlightView::markAllDirty() {
  update();
}

void SpotlightView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  SpotlightScene scene{drawMode_,
                       lastPointer_.value_or(currentPointer()),
                       settings_.spotlightSize.load(std::memory_order_relaxed),
                       screenSize_,
                       snapshot_,
                       backdrop_};
  paintSpotlight(painter, event->region(), scene);
}

void paintSpotlight(QPainter& painter, const QRegion& dirtyRegion, const SpotlightScene& scene) {
  const QRect screen(QPoint(0, 0), scene.screen);
  const QRect dirty = dirtyRegion.boundingRect() & screen;
  if (dirty.isEmpty()) return;
  painter.save();
  painter.setClipRegion(dirtyRegion & screen);
  painter.setRenderHint(QPainter::Antialiasing);
  Canvas canvas(painter, scene.backdrop, scene.screen);
  QPainterPath dirtyPath;
  dirtyPath.addRect(dirty);
  canvas.clear(dirtyPath);
  painter.setOpacity(scene.opacity);

  const PointF p = scene.pointer;
  const double height = scene.screen.height();
  const int32_t size = scene.spotlightSize;
  const QImage& snapshot = scene.snapshot;
  switch (scene.drawMode) {
    case 0:
      canvas.fill(dirtyPath, kDim);
      canvas.clear(roundedPath(spotlightHole(p, size), height));
      break;
    case 1: {
      PointerDot dot = pointerDot(p);
      canvas.fill(roundedPath(dot.rim, height), kDotRim);
      canvas.fill(roundedPath(dot.fill, height), kDotFill);
      break;
    }
    case 2: {
      MagnifierLayout m = magnifierLayout(p, size, {double(screen.width()), height},
                                          snapshot.width(), snapshot.height());
      if (m.hasSource) {
        // The source's part inside the snapshot, and where it lands.
        QRectF source(m.source.x, m.source.y, m.source.width, m.source.height);
        QRectF inside = source & QRectF(snapshot.rect());
        QRectF dest = toView(m.destination, height);
        double scale = dest.width() / source.width();
        QRectF shown(dest.x() + (inside.x() - source.x()) * scale,
                     dest.y() + (inside.y() - source.y()) * scale, inside.width() * scale,
                     inside.height() * scale);
        QBrush picture(snapshot);
        picture.setTransform(
            QTransform::fromTranslate(dest.x() - source.x() * scale, dest.y() - source.y() * scale)
                .scale(scale, scale));
        painter.save();
        painter.setClipRect(shown, Qt::IntersectClip);
        painter.fillPath(roundedPath(m.lens, height), picture);
        painter.restore();
      }
      strokeInside(painter, m.lens, height, kLensOuterRimWidth, kLensOuterRim);
      strokeInside(painter, m.lens, height, kLensInnerRimWidth, kLensInnerRim);
      break;
    }
    default:
      break;
  }
  painter.restore();
}

}  // namespace velt
