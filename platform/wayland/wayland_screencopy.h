// One picture of a Wayland output through wlr-screencopy, into shared
// memory, as the overlay's magnifier and the overlay benchmark take them.
#pragma once

#include <QImage>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

struct wl_output;
struct wl_shm;
struct zwlr_screencopy_manager_v1;
struct zwlr_screencopy_frame_v1;

namespace velt {

struct OutputPicture {
  QImage image;                                 // RGB32, its own copy
  std::chrono::steady_clock::time_point shown;  // when the compositor showed it
};

// One copy of an output under way. The connection's own dispatch drives
// it; answered runs once, from inside that dispatch, when the compositor has
// sent the picture or failed the copy. Ending the copy before then cancels it.
class ScreenCopy {
 public:
  ScreenCopy(zwlr_screencopy_manager_v1* screencopy, wl_shm* shm, wl_output* output,
             std::function<void()> answered = {});
  ~ScreenCopy();
  ScreenCopy(const ScreenCopy&) = delete;
  ScreenCopy& operator=(const ScreenCopy&) = delete;

  bool answered() const;
  // Once answered: the picture; nullopt when the compositor failed the copy
  // or sent a format that is not 32-bit RGB.
  std::optional<OutputPicture> picture() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
  zwlr_screencopy_frame_v1* frame_;
};

// The same, waited for: wait dispatches the connection's events until its
// argument returns true, or gives up and returns false.
std::optional<OutputPicture> captureOutput(zwlr_screencopy_manager_v1* screencopy, wl_shm* shm,
                                           wl_output* output,
                                           const std::function<bool(std::function<bool()>)>& wait);

// The picture format of a wl_shm format; Format_Invalid for any but the
// 32-bit RGB ones.
QImage::Format shmImageFormat(uint32_t format);

}  // namespace velt
