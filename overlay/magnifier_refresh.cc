#include "overlay/magnifier_refresh.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "overlay/spotlight_geometry.h"

namespace velt {

RectF magnifierSourceSquare(PointF pointer, int32_t spotlightSize, const RectF& output) {
  // The layout works on the output with y upwards; a snapshot of one pixel
  // per point gives its source in points, y downwards from the top.
  const SizeF screen{output.width, output.height};
  const PointF local{pointer.x - output.x, output.height - (pointer.y - output.y)};
  const MagnifierLayout layout =
      magnifierLayout(local, spotlightSize, screen, static_cast<int>(output.width),
                      static_cast<int>(output.height));
  if (!layout.hasSource) return {};
  const RectF& s = layout.source;
  const double left = std::max(0.0, std::floor(s.x));
  const double top = std::max(0.0, std::floor(s.y));
  const double right = std::min(output.width, std::ceil(s.x + s.width));
  const double bottom = std::min(output.height, std::ceil(s.y + s.height));
  return {output.x + left, output.y + top, right - left, bottom - top};
}

MagnifierRefresh::MagnifierRefresh(MainThread& mainThread, DelayedTasks& delayed, Capture capture)
    : mainThread_(mainThread),
      delayed_(delayed),
      capture_(std::move(capture)),
      self_(std::make_shared<MagnifierRefresh*>(this)) {}

void MagnifierRefresh::start(PointF pointer, const RectF& output, int32_t spotlightSize) {
  running_ = true;
  size_ = spotlightSize;
  pointerMoved(pointer, output);
}

void MagnifierRefresh::pointerMoved(PointF pointer, const RectF& output) {
  pointer_ = pointer;
  output_ = output;
  if (!running_) return;
  if (inFlight_) {
    again_ = true;
  } else {
    captureNow();
  }
}

void MagnifierRefresh::sizeChanged(int32_t spotlightSize) {
  if (size_ == spotlightSize) return;
  size_ = spotlightSize;
  pointerMoved(pointer_, output_);
}

void MagnifierRefresh::captured() {
  if (!inFlight_) return;
  inFlight_ = false;
  if (!running_) return;
  if (std::exchange(again_, false)) {
    captureNow();
    return;
  }
  // The pointer stands still: the next picture after the pause, unless a
  // move asks for one first (which makes this pause count for nothing).
  const uint64_t pause = ++pauses_;
  delayed_.runAfter("magnifier still", kMagnifierStillRefresh,
                    [&main = mainThread_, pause, alive = std::weak_ptr<MagnifierRefresh*>(self_)] {
                      main.post([pause, alive] {
                        if (auto self = alive.lock()) (*self)->stillFor(pause);
                      });
                    });
}

void MagnifierRefresh::stillFor(uint64_t pause) {
  if (pause != pauses_ || !running_ || inFlight_) return;
  captureNow();
}

void MagnifierRefresh::stop() {
  running_ = false;
  inFlight_ = false;
  again_ = false;
  ++pauses_;
}

void MagnifierRefresh::captureNow() {
  const RectF area = magnifierSourceSquare(pointer_, size_, output_);
  if (area.width <= 0 || area.height <= 0) return;
  inFlight_ = true;
  capture_(area);
}

}  // namespace velt
