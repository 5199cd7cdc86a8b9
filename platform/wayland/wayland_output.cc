#include "platform/wayland/wayland_output.h"

#include <wayland-client.h>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace velt {

QRect OutputGeometry::logical() const {
  return {position, logicalSize ? *logicalSize : modeSize / bufferScale()};
}

bool OutputGeometry::contains(PointF global) const {
  const QRect area = logical();
  return global.x >= area.x() && global.x < area.x() + area.width() && global.y >= area.y() &&
         global.y < area.y() + area.height();
}

namespace {

OutputGeometry& geometryOf(void* data) {
  return static_cast<WaylandOutput*>(data)->geometry;
}

// wl_output
void outputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t) {}
void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                int32_t refresh) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  geometryOf(data).modeSize = QSize(width, height);
  geometryOf(data).refreshMilliHz = refresh;
}
void outputDone(void*, wl_output*) {}
void outputScale(void* data, wl_output*, int32_t factor) {
  geometryOf(data).scale = factor;
}
constexpr wl_output_listener outputListener{outputGeometry, outputMode, outputDone,
                                            outputScale,    nullptr,    nullptr};

// zxdg_output_v1
void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
  geometryOf(data).position = QPoint(x, y);
}
void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
  geometryOf(data).logicalSize = QSize(width, height);
}
void xdgDone(void*, zxdg_output_v1*) {}
void xdgName(void* data, zxdg_output_v1*, const char* name) {
  static_cast<WaylandOutput*>(data)->name = name;
}
void xdgDescription(void*, zxdg_output_v1*, const char*) {}
constexpr zxdg_output_v1_listener xdgOutputListener{logicalPosition, logicalSize, xdgDone, xdgName,
                                                    xdgDescription};

}  // namespace

WaylandOutput::WaylandOutput(uint32_t globalName, wl_output* output)
    : globalName(globalName), output(output) {
  wl_output_add_listener(output, &outputListener, this);
}

WaylandOutput::~WaylandOutput() {
  if (xdgOutput) zxdg_output_v1_destroy(xdgOutput);
  wl_output_destroy(output);
}

void WaylandOutput::describeWith(zxdg_output_manager_v1* manager) {
  if (xdgOutput) return;
  xdgOutput = zxdg_output_manager_v1_get_xdg_output(manager, output);
  zxdg_output_v1_add_listener(xdgOutput, &xdgOutputListener, this);
}

}  // namespace velt
