// The overlay on Wayland compositors that offer layer-shell (KWin, sway and
// the other wlroots compositors): one surface in the overlay layer of each
// output, above every window including full-screen ones, anchored to all
// edges, with no keyboard interactivity and no exclusive zone; it shows in
// no task switcher. Painted with QPainter into shared-memory buffers over a
// connection of its own, on the main thread.
//
// Where the pointer is: a compositor tells a client only about the pointer
// over its own surfaces. Where nothing else reports the pointer (sway), the
// overlay's input region covers its outputs but for the pixels around the
// pointer: every move of the pointer lands on the overlay, which moves the
// hole to the pointer and has the compositor look again (a motion of zero
// through a virtual pointer), so that a click reaches the window under the
// pointer. Elsewhere (KWin, through its script) the position comes from
// outside through setPointerPosition, and the input region stays empty.
//
// Also, from the same connection: the picture the magnifier enlarges
// (wlr-screencopy) and the focused application (wlr foreign-toplevel), where
// the compositor offers them.
#pragma once

#include <QImage>
#include <QRegion>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "overlay/overlay_controller.h"

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct wl_pointer;
struct wl_output;
struct wl_surface;
struct wl_buffer;
struct wl_callback;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
class QSocketNotifier;

namespace velt {

class ScreenCopy;

class WaylandOverlay : public OverlayWindowPort, public PointerLocator, public ActiveWindowQuery {
 public:
  // Connects to the compositor named by WAYLAND_DISPLAY and learns what it
  // offers; nullptr when there is no Wayland compositor. Main thread, once
  // the Qt application exists.
  static std::unique_ptr<WaylandOverlay> connect(const Settings& settings);
  ~WaylandOverlay() override;
  WaylandOverlay(const WaylandOverlay&) = delete;
  WaylandOverlay& operator=(const WaylandOverlay&) = delete;

  // What the compositor offers.
  bool offersLayerShell() const { return layerShell_ != nullptr; }
  bool offersScreencopy() const { return screencopy_ != nullptr; }
  bool offersForeignToplevels() const { return toplevels_ != nullptr; }
  bool offersVirtualPointer() const { return virtualPointers_ != nullptr; }
  bool followsPointerItself() const { return trackPointer_; }

  // The pointer's position comes from outside (global compositor
  // coordinates); the overlay then stops following it itself. Main thread.
  void usePointerSource() { trackPointer_ = false; }
  void setPointerPosition(PointF global);
  // Told true when the overlay shows and wants the outside source to report
  // the pointer, false when it is hidden again.
  void setFollowing(std::function<void(bool)> following) { following_ = std::move(following); }
  // The picture the magnifier enlarges, when the compositor offers none:
  // starts taking a picture of the given output area (global coordinates)
  // and hands it to done on the main thread, a null one when it failed.
  // done may come late or never; the overlay waits two seconds at most.
  using ScreenGrabber = std::function<void(QRect area, std::function<void(QImage)> done)>;
  void setScreenGrabber(ScreenGrabber grabber) { grabber_ = std::move(grabber); }

  // OverlayWindowPort, main thread. saveScreen only starts the picture; a
  // fadeIn that follows shows the overlay once the picture is there (or
  // could not be had), and the main thread never waits for the compositor.
  void setMode(int32_t drawMode) override;
  void saveScreen() override;
  void fadeIn() override;
  void fadeOut() override;
  void hideWindow() override;
  void redrawScreen() override;
  void setNeedsDisplay() override;

  // PointerLocator, any thread: the last position the overlay knew, in
  // global compositor coordinates.
  std::optional<PointF> pointerPosition() override;
  // ActiveWindowQuery, any thread: the activated toplevel's app id as both
  // strings; nullopt without foreign-toplevel.
  std::optional<WindowClass> activeWindowClass() override;

  // Dispatches what the compositor sent until done() or the time is up.
  bool dispatchUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

  // How many pictures the overlay has committed; for the benchmarks.
  uint64_t framesCommitted() const { return framesCommitted_; }

  struct Buffer;
  struct Output;
  struct Toplevel;

 private:
  explicit WaylandOverlay(const Settings& settings, wl_display* display);
  bool bindGlobals();
  void readEvents();
  void flush();
  void lost();

  void createSurface(Output& output);
  void destroySurface(Output& output);
  void configured(Output& output, uint32_t width, uint32_t height);
  Output* outputAt(PointF global);
  Output* pointerOutput();
  void pointerSeen(Output& output, double x, double y);
  void pointerMovedTo(PointF global);
  void setInputRegion(Output& output);
  void updateInputRegions();
  void nudgePointer();
  void changed(Output& output, const QRegion& area);
  void changedAll();
  void schedulePaint(Output& output);
  void paint(Output& output);
  Buffer* freeBuffer(Output& output);
  void pictureTaken(uint64_t request, QImage picture, const char* failure);
  void dropPicture();

  const Settings& settings_;
  wl_display* display_;
  wl_registry* registry_ = nullptr;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  wl_seat* seat_ = nullptr;
  wl_pointer* pointer_ = nullptr;
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  zwlr_layer_shell_v1* layerShell_ = nullptr;
  zwlr_screencopy_manager_v1* screencopy_ = nullptr;
  zwlr_foreign_toplevel_manager_v1* toplevels_ = nullptr;
  zwlr_virtual_pointer_manager_v1* virtualPointers_ = nullptr;
  zwlr_virtual_pointer_v1* virtualPointer_ = nullptr;
  uint32_t layerShellVersion_ = 0;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::map<zwlr_foreign_toplevel_handle_v1*, std::unique_ptr<Toplevel>> toplevelHandles_;
  std::unique_ptr<QSocketNotifier> notifier_;
  ScreenGrabber grabber_;
  std::function<void(bool)> following_;
  bool connectionLost_ = false;

  // The picture.
  bool trackPointer_ = true;
  bool shown_ = false;
  int32_t drawMode_ = 0;
  int32_t paintedSize_ = 0;
  double opacity_ = 1;
  double fadeFrom_ = 1;
  double fadeTo_ = 1;
  std::chrono::steady_clock::time_point fadeStart_;
  bool fading_ = false;
  std::optional<PointF> pointerGlobal_;  // main thread
  Output* pointerOutput_ = nullptr;      // the output the overlay shows on
  Output* enteredOutput_ = nullptr;      // the overlay surface the pointer is over
  QImage snapshot_;
  Output* snapshotOutput_ = nullptr;
  uint64_t pictureRequest_ = 0;  // the picture awaited, if pictureAwaited_
  bool pictureAwaited_ = false;
  bool showWhenPictured_ = false;  // a fadeIn came while the picture was awaited
  std::unique_ptr<ScreenCopy> copy_;
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);  // for late grabs
  bool grabFailureLogged_ = false;
  uint64_t framesCommitted_ = 0;

  // Read by other threads.
  std::atomic<bool> pointerKnown_{false};
  std::atomic<double> pointerX_{0};
  std::atomic<double> pointerY_{0};
  std::mutex activeMutex_;
  std::optional<std::string> activeAppId_;

  friend struct WaylandListeners;
};

}  // namespace velt
