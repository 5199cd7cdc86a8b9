#include "platform/wayland/wayland_screencopy.h"

#include <wayland-client.h>

#include <memory>

#include "platform/wayland/shared_memory.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace velt {

QImage::Format shmImageFormat(uint32_t format) {
  switch (format) {
    case WL_SHM_FORMAT_XRGB8888:
      return QImage::Format_RGB32;
    case WL_SHM_FORMAT_ARGB8888:
      return QImage::Format_ARGB32_Premultiplied;
    case WL_SHM_FORMAT_XBGR8888:
      return QImage::Format_RGBX8888;
    case WL_SHM_FORMAT_ABGR8888:
      return QImage::Format_RGBA8888_Premultiplied;
    default:
      return QImage::Format_Invalid;
  }
}

struct ScreenCopy::State {
  wl_shm* shm;
  std::function<void()> answered;
  std::unique_ptr<SharedMemory> memory;
  wl_buffer* buffer = nullptr;
  QImage image{};
  bool yInvert = false;
  std::chrono::steady_clock::time_point shown{};
  bool finished = false;
  bool ok = false;

  void finish(bool succeeded) {
    ok = succeeded;
    finished = true;
    if (answered) answered();
  }
};

namespace {

using Capture = ScreenCopy::State;

void buffer(void* data, zwlr_screencopy_frame_v1* frame, uint32_t format, uint32_t width,
            uint32_t height, uint32_t stride) {
  auto* c = static_cast<Capture*>(data);
  const QImage::Format qt = shmImageFormat(format);
  c->memory = std::make_unique<SharedMemory>(size_t{stride} * height);
  if (qt != QImage::Format_Invalid)
    c->buffer = c->memory->buffer(c->shm, width, height, stride, format);
  if (!c->buffer) {
    c->finish(false);
    return;
  }
  c->image = QImage(static_cast<uchar*>(c->memory->data), static_cast<int>(width),
                    static_cast<int>(height), static_cast<qsizetype>(stride), qt);
  zwlr_screencopy_frame_v1_copy(frame, c->buffer);
}

void flags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
  static_cast<Capture*>(data)->yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void ready(void* data, zwlr_screencopy_frame_v1*, uint32_t secondsHigh, uint32_t secondsLow,
           uint32_t nanoseconds) {
  auto* c = static_cast<Capture*>(data);
  // The presentation clock of wlroots is the monotonic one.
  const auto since = std::chrono::seconds((uint64_t{secondsHigh} << 32) | secondsLow) +
                     std::chrono::nanoseconds(nanoseconds);
  c->shown = std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(since));
  c->finish(true);
}

void failed(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<Capture*>(data)->finish(false);
}

constexpr zwlr_screencopy_frame_v1_listener kListener{buffer,  flags,   ready,  failed,
                                                      nullptr, nullptr, nullptr};

}  // namespace

ScreenCopy::ScreenCopy(zwlr_screencopy_manager_v1* screencopy, wl_shm* shm, wl_output* output,
                       std::function<void()> answered)
    : state_(std::make_unique<State>()),
      frame_(zwlr_screencopy_manager_v1_capture_output(screencopy, 0, output)) {
  state_->shm = shm;
  state_->answered = std::move(answered);
  zwlr_screencopy_frame_v1_add_listener(frame_, &kListener, state_.get());
}

ScreenCopy::~ScreenCopy() {
  zwlr_screencopy_frame_v1_destroy(frame_);
  if (state_->buffer) wl_buffer_destroy(state_->buffer);
}

bool ScreenCopy::answered() const {
  return state_->finished;
}

std::optional<OutputPicture> ScreenCopy::picture() const {
  if (!state_->finished || !state_->ok || state_->image.isNull()) return std::nullopt;
  // A copy: the shared memory goes with the capture.
  QImage image = state_->image.convertToFormat(QImage::Format_RGB32).copy();
#if QT_VERSION >= QT_VERSION_CHECK(6, 9, 0)
  if (state_->yInvert) image.flip(Qt::Vertical);
#else
  if (state_->yInvert) image = image.mirrored(false, true);
#endif
  return OutputPicture{image, state_->shown};
}

std::optional<OutputPicture> captureOutput(zwlr_screencopy_manager_v1* screencopy, wl_shm* shm,
                                           wl_output* output,
                                           const std::function<bool(std::function<bool()>)>& wait) {
  ScreenCopy copy(screencopy, shm, output);
  if (!wait([&] { return copy.answered(); })) return std::nullopt;
  return copy.picture();
}

}  // namespace velt
