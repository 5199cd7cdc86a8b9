// Points, sizes and rectangles in floating-point units. Which way y grows and
// where the origin lies is the user's to say.
#pragma once

namespace velt {

struct PointF {
  double x = 0;
  double y = 0;
};

struct SizeF {
  double width = 0;
  double height = 0;
};

struct RectF {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const RectF&) const = default;
};

}  // namespace velt
