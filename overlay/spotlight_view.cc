#include "overlay/spotlight_view.h"

#include <QCursor>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

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

// The lens's picture: the part of the source square inside the snapshot,
// where it lands in the view, and the map from snapshot to view pixels.
struct Enlargement {
  QRectF inside;
  QRectF shown;
  QTransform toView;
};

Enlargement enlargementOf(const MagnifierLayout& m, const QImage& snapshot, double screenHeight) {
  const QRectF source(m.source.x, m.source.y, m.source.width, m.source.height);
  const QRectF dest = toView(m.destination, screenHeight);
  const double scale = dest.width() / source.width();
  Enlargement e;
  e.inside = source & QRectF(snapshot.rect());
  e.shown = QRectF(dest.x() + (e.inside.x() - source.x()) * scale,
                   dest.y() + (e.inside.y() - source.y()) * scale, e.inside.width() * scale,
                   e.inside.height() * scale);
  e.toView = QTransform::fromTranslate(dest.x() - source.x() * scale, dest.y() - source.y() * scale)
                 .scale(scale, scale);
  return e;
}

// --- Painting from the sprites ------------------------------------------------

// Where a picture of a shape goes: the shape's box in view pixels, a pixel
// wider each way for its soft edge, on whole pixels. The pictures are drawn
// with the shape one pixel in from their corner.
QRect spriteRect(const RectF& shape, double screenHeight) {
  const QRectF view = toView(shape, screenHeight);
  return {static_cast<int>(std::lround(view.x())) - 1, static_cast<int>(std::lround(view.y())) - 1,
          static_cast<int>(std::ceil(view.width())) + 2,
          static_cast<int>(std::ceil(view.height())) + 2};
}

// A shape of the given side at (1, 1) of its picture, in the view's
// coordinates: what toView makes of it on a screen as high as the picture.
RoundedRect inPicture(double side, double radius) {
  return {{1, 1, side, side}, radius};
}

QImage clearPicture(int side) {
  QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  return picture;
}

const QImage& holeSprite(SpotlightSprites& sprites, int32_t size) {
  if (sprites.holeSize != size) {
    const int side = size + 2;
    sprites.hole = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    sprites.hole.fill(kDim);
    QPainter painter(&sprites.hole);
    painter.setRenderHint(QPainter::Antialiasing);
    Canvas(painter, {}, {})
        .clear(roundedPath(inPicture(size, spotlightHole({}, size).radius), side));
    sprites.holeSize = size;
  }
  return sprites.hole;
}

const QImage& dotSprite(SpotlightSprites& sprites) {
  if (sprites.dot.isNull()) {
    const PointerDot dot = pointerDot({});
    const double side = dot.rim.rect.width;
    const double inset = dot.fill.rect.x - dot.rim.rect.x;
    const int pixels = static_cast<int>(side) + 2;
    QImage picture = clearPicture(pixels);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    Canvas canvas(painter, {}, {});
    canvas.fill(roundedPath(inPicture(side, dot.rim.radius), pixels), kDotRim);
    RoundedRect fill = inPicture(dot.fill.rect.width, dot.fill.radius);
    fill.rect.x += inset;
    fill.rect.y += inset;
    canvas.fill(roundedPath(fill, pixels), kDotFill);
    painter.end();
    sprites.dot = std::move(picture);
  }
  return sprites.dot;
}

void makeLensSprites(SpotlightSprites& sprites, double side, double radius) {
  const int pixels = static_cast<int>(side) + 2;
  const RoundedRect lens = inPicture(side, radius);
  sprites.lensShape = clearPicture(pixels);
  {
    QPainter painter(&sprites.lensShape);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedPath(lens, pixels), Qt::white);
  }
  sprites.lensRims = clearPicture(pixels);
  {
    QPainter painter(&sprites.lensRims);
    painter.setRenderHint(QPainter::Antialiasing);
    strokeInside(painter, lens, pixels, kLensOuterRimWidth, kLensOuterRim);
    strokeInside(painter, lens, pixels, kLensInnerRimWidth, kLensInnerRim);
  }
  sprites.lensSide = static_cast<int32_t>(side);
}

// This frame's lens: the enlarged picture cut to the lens's shape, the rims
// over it.
const QImage& lensSprite(SpotlightSprites& sprites, const MagnifierLayout& m, const QRect& at,
                         const QImage& snapshot, double screenHeight) {
  if (sprites.lensSide != static_cast<int32_t>(m.lens.rect.width)) {
    makeLensSprites(sprites, m.lens.rect.width, m.lens.radius);
  }
  QImage& lens = sprites.lens;
  if (lens.size() != at.size()) lens = clearPicture(at.width());
  lens.fill(Qt::transparent);
  QPainter painter(&lens);
  if (m.hasSource) {
    const Enlargement e = enlargementOf(m, snapshot, screenHeight);
    painter.drawImage(e.shown.translated(-at.topLeft()), snapshot, e.inside);
    // Kept where the lens covers its pixel, in the share it covers it.
    for (int y = 0; y < lens.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(lens.scanLine(y));
      const auto* shape = reinterpret_cast<const QRgb*>(sprites.lensShape.constScanLine(y));
      for (int x = 0; x < lens.width(); ++x) {
        const uint32_t cover = qAlpha(shape[x]);
        if (cover == 255) continue;
        const QRgb pixel = line[x];
        auto part = [cover](uint32_t c) { return static_cast<int>((c * cover + 127) / 255); };
        line[x] =
            qRgba(part(qRed(pixel)), part(qGreen(pixel)), part(qBlue(pixel)), part(qAlpha(pixel)));
      }
    }
  }
  painter.drawImage(0, 0, sprites.lensRims);
  return lens;
}

// The scene painted from the sprites; false, having painted nothing, where
// they do not serve: a fade, a scaled painter or backdrop, an unknown mode.
bool paintFromSprites(QPainter& painter, const QRegion& dirty, const SpotlightScene& scene) {
  SpotlightSprites& sprites = *scene.sprites;
  const QImage& backdrop = scene.backdrop;
  if (scene.opacity != 1 || !painter.deviceTransform().isIdentity() || scene.drawMode < 0 ||
      scene.drawMode > 2 || (!backdrop.isNull() && backdrop.size() != scene.screen)) {
    return false;
  }
  const double height = scene.screen.height();
  const PointF p = scene.pointer;
  const bool dims = scene.drawMode == 0;
  if (dims && !backdrop.isNull() && sprites.dimmedFrom != backdrop.cacheKey()) {
    sprites.dimmedBackdrop = backdrop.convertToFormat(QImage::Format_RGB32);
    QPainter dimming(&sprites.dimmedBackdrop);
    dimming.fillRect(sprites.dimmedBackdrop.rect(), kDim);
    dimming.end();
    sprites.dimmedFrom = backdrop.cacheKey();
  }
  QRect at;
  const QImage* sprite = nullptr;
  switch (scene.drawMode) {
    case 0:
      at = spriteRect(spotlightHole(p, scene.spotlightSize).rect, height);
      sprite = &holeSprite(sprites, scene.spotlightSize);
      break;
    case 1:
      at = spriteRect(pointerDot(p).rim.rect, height);
      sprite = &dotSprite(sprites);
      break;
    case 2: {
      const QImage& snapshot = scene.snapshot;
      const MagnifierLayout m =
          magnifierLayout(p, scene.spotlightSize, {double(scene.screen.width()), height},
                          snapshot.width(), snapshot.height());
      at = spriteRect(m.lens.rect, height);
      sprite = &lensSprite(sprites, m, at, snapshot, height);
      break;
    }
  }
  // What lies under the overlay's pictures: the screen's picture, dimmed
  // around the hole, or nothing (dimmed).
  const QImage& under = dims ? sprites.dimmedBackdrop : backdrop;
  // One rectangle at a time: Qt copies pictures on its thread pool too
  // where the clip is not a single rectangle.
  for (const QRect& d : dirty) {
    painter.setClipRect(d);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (backdrop.isNull()) {
      painter.fillRect(d, dims ? kDim : Qt::transparent);
    } else {
      painter.drawImage(d.topLeft(), under, d);
    }
    const QRect part = d & at;
    if (part.isEmpty()) continue;
    if (dims) {
      if (backdrop.isNull()) {
        painter.fillRect(part, Qt::transparent);
      } else {
        painter.drawImage(part.topLeft(), backdrop, part);
      }
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(part.topLeft(), *sprite, part.translated(-at.topLeft()));
  }
  painter.setClipping(false);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  return true;
}

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
  // A screen's worth of pixels: not kept past the picture it was made from.
  if (backdrop_.isNull()) {
    sprites_.dimmedBackdrop = {};
    sprites_.dimmedFrom = 0;
  }
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
                       backdrop_,
                       1,
                       &sprites_};
  paintSpotlight(painter, event->region(), scene);
}

void paintSpotlight(QPainter& painter, const QRegion& dirtyRegion, const SpotlightScene& scene) {
  const QRect screen(QPoint(0, 0), scene.screen);
  const QRect dirty = dirtyRegion.boundingRect() & screen;
  if (dirty.isEmpty()) return;
  if (scene.sprites && paintFromSprites(painter, dirtyRegion & screen, scene)) return;
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
        const Enlargement e = enlargementOf(m, snapshot, height);
        QBrush picture(snapshot);
        picture.setTransform(e.toView);
        painter.save();
        painter.setClipRect(e.shown, Qt::IntersectClip);
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
