#include "tests/desktop/overlay_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>

namespace velt::rig {
namespace {

constexpr int kTolerance = 4;
constexpr int kStep = 5;    // the sampling grid
constexpr int kArrow = 34;  // the side of the pointer's arrow and its rim, at most

bool near(QRgb a, QRgb b, int tolerance = kTolerance) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// c over p with alpha a.
QRgb over(QRgb p, double r, double g, double b, double a) {
  auto mix = [a](double top, int under) {
    return static_cast<int>(std::lround(top * 255 * a + under * (1 - a)));
  };
  return qRgb(mix(r, qRed(p)), mix(g, qGreen(p)), mix(b, qBlue(p)));
}

QRgb dimmed(QRgb p) {
  return over(p, 0, 0, 0, 0.8);
}

// How far a point lies inside (positive) or outside (negative) a square
// with rounded corners.
double depth(QPointF q, QRectF r, double radius) {
  double x = std::clamp(q.x(), r.left() + radius, r.right() - radius);
  double y = std::clamp(q.y(), r.top() + radius, r.bottom() - radius);
  double dx = q.x() - x;
  double dy = q.y() - y;
  if (dx == 0 && dy == 0) {
    return std::min({q.x() - r.left(), r.right() - q.x(), q.y() - r.top(), r.bottom() - q.y()});
  }
  return radius - std::hypot(dx, dy);
}

QString at(QPoint q, QRgb got, QRgb want) {
  return QStringLiteral("at (%1, %2): %3 where %4 belongs")
      .arg(q.x())
      .arg(q.y())
      .arg(QColor(got).name(), QColor(want).name());
}

// Where the pointer's arrow may be, or its enlargement in the lens.
bool underArrow(const OverlayPicture& p, QPoint q) {
  return p.arrowDrawn && QRect(p.pointer - QPoint(6, 6), QSize(2 * kArrow, 2 * kArrow)).contains(q);
}

// Every grid point: expect(q) gives the colour due there, or nothing to skip.
QString sample(const OverlayPicture& p, const std::function<std::optional<QRgb>(QPoint)>& expect) {
  if (p.plain.size() != p.shot.size()) return QStringLiteral("the pictures differ in size");
  for (int y = 1; y < p.shot.height() - 1; y += kStep) {
    for (int x = 1; x < p.shot.width() - 1; x += kStep) {
      QPoint q(x, y);
      if (underArrow(p, q)) continue;
      auto want = expect(q);
      if (want && !near(p.shot.pixel(q), *want)) return at(q, p.shot.pixel(q), *want);
    }
  }
  return {};
}

// From the pointer outwards along each axis while inside(q): the extent of
// a shape, and whether its centre is within 2 px of the pointer.
QString centred(const OverlayPicture& p, const std::function<bool(QPoint)>& inside, int side,
                const char* what) {
  auto reach = [&](int dx, int dy) {
    QPoint q = p.pointer;
    while (p.shot.rect().contains(q + QPoint(dx, dy)) &&
           (underArrow(p, q + QPoint(dx, dy)) || inside(q + QPoint(dx, dy)))) {
      q += QPoint(dx, dy);
    }
    return q;
  };
  // Under the arrow the shape is taken to mirror what lies left of and above
  // the pointer.
  const QPoint start = p.arrowDrawn ? p.pointer - QPoint(3, 3) : p.pointer;
  if (!inside(start)) return QStringLiteral("no %1 under the pointer").arg(what);
  QPoint left = reach(-1, 0), top = reach(0, -1);
  QPoint right = p.arrowDrawn ? 2 * p.pointer - left : reach(1, 0);
  QPoint bottom = p.arrowDrawn ? 2 * p.pointer - top : reach(0, 1);
  double cx = (left.x() + right.x()) / 2.0;
  double cy = (top.y() + bottom.y()) / 2.0;
  int width = right.x() - left.x() + 1;
  int height = bottom.y() - top.y() + 1;
  if (std::abs(cx - p.pointer.x()) > 2 || std::abs(cy - p.pointer.y()) > 2 ||
      std::abs(width - side) > 2 || std::abs(height - side) > 2) {
    return QStringLiteral("%1 of %2x%3 centred at (%4, %5), not %6 wide at (%7, %8)")
        .arg(what)
        .arg(width)
        .arg(height)
        .arg(cx)
        .arg(cy)
        .arg(side)
        .arg(p.pointer.x())
        .arg(p.pointer.y());
  }
  return {};
}

}  // namespace

QRgb patternAt(int x, int y, int blue) {
  return qRgb(x % 256, y % 256, blue);
}

QImage patternPicture(QSize size, int blue) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] = patternAt(x, y, blue);
  }
  return image;
}

QString checkSpotlight(const OverlayPicture& p) {
  auto clear = [&](QPoint q) { return near(p.shot.pixel(q), p.plain.pixel(q)); };
  if (QString wrong = centred(p, clear, p.size, "hole"); !wrong.isEmpty()) return wrong;
  int half = p.size / 2;
  QRectF hole(p.pointer.x() - half, p.pointer.y() - (p.size - half), p.size, p.size);
  return sample(p, [&](QPoint q) -> std::optional<QRgb> {
    QRgb plain = p.plain.pixel(q);
    if (!p.monitor.contains(q)) return plain;
    double d = depth(QPointF(q) + QPointF(0.5, 0.5), hole, p.size * 0.33);
    if (d > 2) return plain;
    if (d < -2) return dimmed(plain);
    return std::nullopt;
  });
}

QString checkPointerDot(const OverlayPicture& p) {
  auto red = [&](QPoint q) { return near(p.shot.pixel(q), over(p.plain.pixel(q), 1, 0, 0, 0.7)); };
  if (QString wrong = centred(p, red, 40, "red disc"); !wrong.isEmpty()) return wrong;
  return sample(p, [&](QPoint q) -> std::optional<QRgb> {
    double d = std::hypot(q.x() + 0.5 - p.pointer.x(), q.y() + 0.5 - p.pointer.y());
    if (d > 24) return p.plain.pixel(q);
    if (d > 20.5 && d < 21.5) return over(p.plain.pixel(q), 1, 1, 1, 0.8);
    return std::nullopt;
  });
}

namespace {

// How far q lies inside the lens about pointer (negative: outside).
double lensDepth(QPoint q, const QRect& monitor, QPoint pointer, int size) {
  int lens = size / 8 * 8;
  int h = lens / 2;
  QPoint local = pointer - monitor.topLeft();
  int dx = std::clamp(local.x() - h, 0, monitor.width() - lens) + monitor.x();
  int dy = std::clamp(local.y() - h, 0, monitor.height() - lens) + monitor.y();
  return depth(QPointF(q) + QPointF(0.5, 0.5), QRectF(dx, dy, lens, lens), lens * 0.33);
}

}  // namespace

QImage patternRecolouredInLens(QSize size, QPoint pointer, int lensSize) {
  QImage picture = patternPicture(size);
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      if (lensDepth({x, y}, picture.rect(), pointer, lensSize) >= 0) {
        picture.setPixel(x, y, patternAt(x, y, kRecolouredBlue));
      }
    }
  }
  return picture;
}

QString checkMagnifier(const OverlayPicture& p) {
  auto depthAt = [&](QPoint q) { return lensDepth(q, p.monitor, p.pointer, p.size); };
  QString around = sample(p, [&](QPoint q) -> std::optional<QRgb> {
    if (depthAt(q) < -2) return p.plain.pixel(q);
    return std::nullopt;
  });
  if (!around.isEmpty()) return QStringLiteral("around the lens: ") + around;
  int checked = 0;
  QString wrong = sample(p, [&](QPoint q) -> std::optional<QRgb> {
    if (depthAt(q) < 8) return std::nullopt;  // around the lens, and the rim
    // What lies halfway between q and the pointer; the picture is filtered,
    // so any of the four pixels around that point, or their mean, will do.
    double cx = (q.x() + 0.5 + p.pointer.x()) / 2 - 0.5;
    double cy = (q.y() + 0.5 + p.pointer.y()) / 2 - 0.5;
    QPoint base(static_cast<int>(std::floor(cx)), static_cast<int>(std::floor(cy)));
    QRgb got = p.shot.pixel(q);
    QRgb best = p.plain.pixel(base);
    for (QPoint n : {base, base + QPoint(1, 0), base + QPoint(0, 1), base + QPoint(1, 1)}) {
      if (!p.plain.rect().contains(n)) continue;
      // A jump in the pattern (red or green wrapping at 256) blurs: skip.
      if (!near(p.plain.pixel(n), p.plain.pixel(base), 12)) return std::nullopt;
      if (near(got, p.plain.pixel(n))) best = p.plain.pixel(n);
    }
    ++checked;
    return best;
  });
  if (!wrong.isEmpty()) return QStringLiteral("in the lens: ") + wrong;
  if (checked < 100) return QStringLiteral("too little of the lens to check");
  return {};
}

QString checkPattern(const OverlayPicture& p) {
  OverlayPicture same = p;
  same.plain = p.shot;
  return sample(same, [&](QPoint q) -> std::optional<QRgb> {
    if (!p.monitor.contains(q)) return std::nullopt;
    return patternAt(q.x() - p.monitor.x(), q.y() - p.monitor.y(), p.blue);
  });
}

QString checkClear(const OverlayPicture& p) {
  return sample(p, [&](QPoint q) -> std::optional<QRgb> { return p.plain.pixel(q); });
}

}  // namespace velt::rig
