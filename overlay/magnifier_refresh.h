// Keeps the magnifier's picture live where the desktop can picture the screen
// without the overlay: while the lens shows, the part of the screen it
// enlarges is taken again on every pointer move and every 0.5 s while the
// pointer stands still.
//
// Only the lens's source square is asked for (half the lens side about the
// pointer, kept on the output, as magnifierLayout shows it), never the whole
// screen, and only one picture is awaited at a time: moves while one is
// awaited ask for a single further picture once it has come, not one each.
// Main thread only; the pause runs on the injected DelayedTasks.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/delayed_tasks.h"
#include "core/geometry.h"
#include "core/main_thread.h"

namespace velt {

inline constexpr std::chrono::milliseconds kMagnifierStillRefresh{500};

// The square of the screen the lens about pointer enlarges, in the
// coordinates of pointer and output (y downwards), on the output's pixel
// grid: a whole number of points wide, covering the lens's source.
RectF magnifierSourceSquare(PointF pointer, int32_t spotlightSize, const RectF& output);

class MagnifierRefresh {
 public:
  // capture starts a picture of area (as magnifierSourceSquare gives it);
  // captured() says when it has come or failed.
  using Capture = std::function<void(RectF area)>;
  MagnifierRefresh(MainThread& mainThread, DelayedTasks& delayed, Capture capture);
  MagnifierRefresh(const MagnifierRefresh&) = delete;
  MagnifierRefresh& operator=(const MagnifierRefresh&) = delete;

  // The lens shows (again) about pointer on output: a picture now.
  void start(PointF pointer, const RectF& output, int32_t spotlightSize);
  void pointerMoved(PointF pointer, const RectF& output);
  void sizeChanged(int32_t spotlightSize);
  // The picture asked for has come (or could not be had).
  void captured();
  // The lens is gone; a picture still awaited is let go.
  void stop();

  bool running() const { return running_; }

 private:
  void captureNow();
  void stillFor(uint64_t pause);

  MainThread& mainThread_;
  DelayedTasks& delayed_;
  Capture capture_;
  std::shared_ptr<MagnifierRefresh*> self_;  // for the pauses that outlive it

  bool running_ = false;
  bool inFlight_ = false;
  bool again_ = false;   // moved while a picture was awaited
  uint64_t pauses_ = 0;  // the pause that counts, as a number
  PointF pointer_;
  RectF output_;
  int32_t size_ = 0;
};

}  // namespace velt
