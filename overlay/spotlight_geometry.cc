#include "overlay/spotlight_geometry.h"

#include <cmath>

namespace velt {
namespace {

constexpr double kCornerShare = 0.33;
constexpr double kMagnification = 2.0;

RoundedRect roundedSquare(double x, double y, double side) {
  return {{x, y, side, side}, kCornerShare * side};
}

// The lens and hole leave the pointer on their middle; integer halves keep
// odd sizes on whole points, as they were always drawn.
int64_t halfOf(int32_t size) {
  return static_cast<int64_t>(size) / 2;
}

}  // namespace

RectF flipped(const RectF& r, double screenHeight) {
  return {r.x, screenHeight - r.y - r.height, r.width, r.height};
}

RoundedRect spotlightHole(PointF p, int32_t spotlightSize) {
  double half = static_cast<double>(halfOf(spotlightSize));
  return roundedSquare(p.x - half, p.y - half, spotlightSize);
}

PointerDot pointerDot(PointF p) {
  // Discs: squares whose corners are half their side.
  return {{{p.x - 22, p.y - 22, 44, 44}, 22}, {{p.x - 20, p.y - 20, 40, 40}, 20}};
}

RectF pointerArea(PointF p, int32_t spotlightSize) {
  double half = static_cast<double>(halfOf(spotlightSize));
  double side = static_cast<double>(spotlightSize) + 10;
  return {p.x - half - 5, p.y - half - 5, side, side};
}

int32_t lensSide(int32_t spotlightSize) {
  int32_t side = spotlightSize - spotlightSize % 8;
  return side < 0 ? 0 : side;
}

MagnifierLayout magnifierLayout(PointF p, int32_t spotlightSize, SizeF screen, int snapshotWidth,
                                int snapshotHeight) {
  MagnifierLayout out;
  const double side = lensSide(spotlightSize);
  const double half = side / 2;
  const double originX = p.x - half;
  const double originY = p.y - half;
  out.lens = roundedSquare(std::trunc(originX), std::trunc(originY), side);

  // The enlarged picture stays on the screen even where the lens is cut by
  // an edge; the source moves with it so that the point under the pointer
  // stays under the pointer.
  RectF& d = out.destination;
  d = {originX, originY, side, side};
  if (d.x < 0) d.x = 0;
  if (d.y < 0) d.y = 0;
  if (d.x >= screen.width - side) d.x = screen.width - side;
  if (d.y >= screen.height - side) d.y = screen.height - side;

  // Source origin in points, y measured downwards from the top of the screen.
  const double sourceSide = side / kMagnification;
  double sx = p.x - sourceSide / 2;
  double sy = (screen.height - p.y) - sourceSide / 2;
  const auto left = static_cast<int64_t>(std::trunc(originX));
  const auto right = static_cast<int64_t>(std::trunc(p.x + half));
  const auto bottom = static_cast<int64_t>(std::trunc(originY));
  const auto top = static_cast<int64_t>(std::trunc(p.y + half));
  if (left < 0) sx -= static_cast<double>(left / 2);
  if (static_cast<double>(right) >= screen.width) sx += (right - screen.width) * -0.5;
  if (bottom < 0) sy += static_cast<double>(bottom / 2);
  if (static_cast<double>(top) >= screen.height) sy += (top - screen.height) * 0.5;
  if (sx < 0) sx = 0;
  if (sy < 0) sy = 0;

  // Points to snapshot pixels.
  if (snapshotWidth <= 0 || snapshotHeight <= 0 || side <= 0) return out;
  const float pointsPerPixel = static_cast<float>(screen.width / snapshotWidth);
  if (!(pointsPerPixel > 0) || !std::isfinite(pointsPerPixel)) return out;
  const double k = pointsPerPixel;
  sx /= k;
  sy /= k;
  const double pixels = sourceSide / k;
  if (sx >= snapshotWidth - pixels) sx = snapshotWidth - pixels;
  if (sy >= snapshotHeight - pixels) sy = snapshotHeight - pixels;
  out.source = {std::floor(sx), std::floor(sy), pixels, pixels};
  const RectF& s = out.source;
  out.hasSource =
      s.x < snapshotWidth && s.y < snapshotHeight && s.x + s.width > 0 && s.y + s.height > 0;
  return out;
}

}  // namespace velt
