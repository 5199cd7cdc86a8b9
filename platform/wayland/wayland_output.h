// One output of the compositor as the overlay sees it: where it lies in the
// compositor's global space (xdg-output), its buffer scale and its name.
#pragma once

#include <QRect>
#include <cstdint>
#include <optional>
#include <string>

#include "core/geometry.h"

struct wl_output;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace velt {

// What wl_output and xdg-output say of an output, in whatever order they
// say it.
struct OutputGeometry {
  QPoint position;                   // xdg-output
  std::optional<QSize> logicalSize;  // xdg-output
  QSize modeSize;                    // wl_output's current mode, in pixels
  int32_t refreshMilliHz = 0;        // and its refresh rate
  int32_t scale = 1;                 // wl_output

  // In global compositor coordinates. Without xdg-output's size the mode,
  // divided by the scale, is the best guess.
  QRect logical() const;
  int32_t bufferScale() const { return std::max(1, scale); }
  // Whether the point lies on the output; a point on the edge between two
  // outputs lies on the right or lower one.
  bool contains(PointF global) const;
};

struct WaylandOutput {
  WaylandOutput(uint32_t globalName, wl_output* output);
  ~WaylandOutput();
  WaylandOutput(const WaylandOutput&) = delete;
  WaylandOutput& operator=(const WaylandOutput&) = delete;
  // Learns the output's place from xdg-output from now on.
  void describeWith(zxdg_output_manager_v1* manager);

  const uint32_t globalName;
  wl_output* const output;
  zxdg_output_v1* xdgOutput = nullptr;
  std::string name;
  OutputGeometry geometry;
};

}  // namespace velt
