#include "platform/wayland/frame_book.h"

#include <algorithm>
#include <cmath>

#include "overlay/overlay_controller.h"

namespace velt {

bool FrameBook::resize(QSize size) {
  const bool newSize = size != size_;
  if (newSize) {
    size_ = size;
    for (Slot& slot : slots_) slot = Slot{};
  }
  changedAll();
  return newSize;
}

void FrameBook::changed(const QRegion& area) {
  const QRegion inside = area & QRect(QPoint(), size_);
  sinceCommit_ += inside;
  for (Slot& slot : slots_) slot.stale += inside;
  wanted_ = true;
}

std::optional<int> FrameBook::bufferToPaint() const {
  if (!wanted_ || frameAwaited_) return std::nullopt;
  for (int i = 0; i < kBuffers; ++i) {
    if (!slots_[i].busy) return i;
  }
  return std::nullopt;
}

FrameBook::Painting FrameBook::paint(int i) {
  Slot& slot = slots_[i];
  Painting painting{std::exchange(slot.stale, QRegion()), std::exchange(sinceCommit_, QRegion())};
  slot.busy = true;
  wanted_ = false;
  frameAwaited_ = true;
  return painting;
}

bool FrameBook::released(int i) {
  slots_[i].busy = false;
  return bufferToPaint().has_value();
}

bool FrameBook::frameShown() {
  frameAwaited_ = false;
  return bufferToPaint().has_value();
}

void Fade::start(double from, double to) {
  from_ = from;
  to_ = to;
  value_ = from;
  start_ = clock_.now();
  running_ = true;
}

double Fade::opacity() {
  if (!running_) return value_;
  const double t = std::chrono::duration<double>(clock_.now() - start_) /
                   std::chrono::duration<double>(kFadeDuration);
  value_ = from_ + (to_ - from_) * std::clamp(t, 0.0, 1.0);
  if (t >= 1) running_ = false;
  return value_;
}

QRegion inputRegionAround(QSize surface, std::optional<QPointF> pointer) {
  QRegion covered(QRect(QPoint(), surface));
  if (pointer) {
    covered -= QRect(static_cast<int>(std::floor(pointer->x())) - 1,
                     static_cast<int>(std::floor(pointer->y())) - 1, 3, 3);
  }
  return covered;
}

}  // namespace velt
