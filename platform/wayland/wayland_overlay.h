// The overlay on Wayland compositors that offer layer-shell (KWin, sway and
// the other wlroots compositors): one LayerSurface on each output, over a
// connection of the agent's own (WaylandConnection), on the main thread.
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
// (wlr-screencopy), pictures of single windows to keep it live
// (WindowPictures, placed where sway's tree says), and the focused
// application (WaylandToplevels), where the compositor offers them.
#pragma once

#include <QImage>
#include <QObject>
#include <QRegion>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "actions/synthetic_input.h"
#include "core/clock.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "overlay/magnifier_refresh.h"
#include "overlay/overlay_controller.h"
#include "overlay/spotlight_view.h"
#include "platform/wayland/frame_book.h"
#include "platform/wayland/layer_surface.h"
#include "platform/wayland/sway_windows.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_toplevels.h"
#include "platform/wayland/window_pictures.h"

struct wl_pointer;
struct wl_seat;
struct wl_surface;
struct zwlr_virtual_pointer_v1;

namespace velt {

class ScreenCopy;

class WaylandOverlay : public OverlayWindowPort,
                       public PointerLocator,
                       public ActiveWindowQuery,
                       public FocusSource,
                       private WaylandConnection::Client,
                       private LayerSurface::Owner {
 public:
  // Connects to the compositor named by WAYLAND_DISPLAY and learns what it
  // offers; nullptr when there is no Wayland compositor. Main thread, once
  // the Qt application exists. The fades are timed on clock.
  static std::unique_ptr<WaylandOverlay> connect(const Settings& settings, const Clock& clock);
  ~WaylandOverlay() override;
  WaylandOverlay(const WaylandOverlay&) = delete;
  WaylandOverlay& operator=(const WaylandOverlay&) = delete;

  // What the compositor offers.
  bool offersLayerShell() const { return connection_->globals().layerShell != nullptr; }
  bool offersForeignToplevels() const { return toplevels_.tracking(); }
  bool offersVirtualPointer() const { return connection_->globals().virtualPointers != nullptr; }

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
  // Where the compositor can picture the screen without the overlay: while
  // the magnifier shows, the part of the screen its lens enlarges is taken
  // again through grabber as the pointer moves and every 0.5 s while it
  // stands still (MagnifierRefresh, timed on delayed). Without it the lens
  // keeps the picture taken as it opened.
  void setLiveGrabber(ScreenGrabber grabber, MainThread& mainThread, DelayedTasks& delayed);
  // The same from pictures of single windows, laid over the picture taken
  // as the lens opened, where the compositor offers them and sway's IPC
  // says where the windows are; false where it cannot.
  bool liveFromWindows(MainThread& mainThread, DelayedTasks& delayed);

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
  // Moves come as wl_pointer events or setPointerPosition, each painted as
  // soon as the compositor's frame callback allows.
  bool followsPointerItself() const override { return true; }

  // PointerLocator, any thread: the last position the overlay knew, in
  // global compositor coordinates.
  std::optional<PointF> pointerPosition() override;
  // ActiveWindowQuery, any thread: the activated toplevel's app id in every
  // field; nullopt without foreign-toplevel.
  std::optional<WindowClass> activeWindowClass() override;
  // FocusSource: told on the thread that dispatches the connection.
  void watchActiveWindow(Handler handler) override;
  std::vector<WindowClass> openWindows() override { return toplevels_.openWindows(); }

 private:
  WaylandOverlay(const Settings& settings, const Clock& clock);

  // WaylandConnection::Client
  void outputAdded(WaylandOutput& output) override;
  void outputRemoved(WaylandOutput& output) override;
  void seatCapabilities(wl_seat* seat, uint32_t capabilities) override;
  void toplevelsOffered(zwlr_foreign_toplevel_manager_v1* manager) override;
  void windowListOffered(ext_foreign_toplevel_list_v1* list) override;
  void connectionLost(int error) override;
  // LayerSurface::Owner
  QRegion inputRegion(LayerSurface& surface) override;
  void closed(LayerSurface& surface) override;
  void frameShown(LayerSurface& surface) override;
  std::optional<QPointF> draw(LayerSurface& surface, QPainter& painter,
                              const QRegion& area) override;
  void committed(LayerSurface& surface) override;

  void createSurface(WaylandOutput& output);
  void destroySurface(WaylandOutput& output);
  LayerSurface* surfaceOn(WaylandOutput* output) const;
  WaylandOutput* pointerOutput();
  WaylandOutput* outputOf(wl_surface* surface) const;
  void pointerSeen(WaylandOutput& output, double x, double y);
  void pointerMovedTo(PointF global);
  void updateInputRegions();
  void nudgePointer();
  void changedAll();
  void pictureTaken(uint64_t request, QImage picture, const char* failure);
  void dropPicture();
  QRect lensArea(const WaylandOutput& output, PointF global) const;
  void refreshLens();
  void captureLens(RectF area);
  void lensPictured(uint64_t request, QRect area, QImage picture);
  void placeLensPicture(QRect area, const QImage& picture);
  // The picture the lens enlarges on output, made for it if it holds
  // another output's; scale: its pixels per point, if made.
  QImage& pictureOf(WaylandOutput& output, double scale);
  void lensChanged(WaylandOutput& output);
  void captureWindows(RectF area);
  void composeWindows();

  const Settings& settings_;
  const Clock& clock_;
  std::unique_ptr<WaylandConnection> connection_;
  WaylandToplevels toplevels_;
  WindowPictures windowPictures_;
  std::map<WaylandOutput*, std::unique_ptr<LayerSurface>> surfaces_;  // while the overlay shows
  wl_pointer* pointer_ = nullptr;
  zwlr_virtual_pointer_v1* virtualPointer_ = nullptr;
  QObject context_;  // for the timers of pictures awaited
  ScreenGrabber grabber_;
  std::function<void(bool)> following_;

  // The picture.
  bool trackPointer_ = true;
  bool shown_ = false;
  int32_t drawMode_ = 0;
  Fade fade_;
  std::optional<PointF> pointerGlobal_;     // main thread
  WaylandOutput* pointerOutput_ = nullptr;  // the output the overlay shows on
  WaylandOutput* enteredOutput_ = nullptr;  // the overlay surface the pointer is over
  QImage snapshot_;
  SpotlightSprites sprites_;
  WaylandOutput* snapshotOutput_ = nullptr;
  uint64_t pictureRequest_ = 0;  // the picture awaited, if pictureAwaited_
  bool pictureAwaited_ = false;
  bool showWhenPictured_ = false;  // a fadeIn came while the picture was awaited
  std::unique_ptr<ScreenCopy> copy_;
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);  // for late grabs
  bool grabFailureLogged_ = false;
  bool frozenLensLogged_ = false;
  ScreenGrabber liveGrabber_;
  // Pictures refused in a row; at kLiveRefusalsKept the lens stops asking
  // until it opens again.
  int liveRefusals_ = 0;
  static constexpr int kLiveRefusalsKept = 3;
  std::unique_ptr<MagnifierRefresh> refresh_;
  uint64_t lensRequest_ = 0;  // the lens picture that counts
  // The live lens from window pictures.
  std::optional<SwayIpc> sway_;
  QImage frozen_;  // the picture as the lens opened, of frozenOutput_
  WaylandOutput* frozenOutput_ = nullptr;
  QRect lensSource_;
  std::vector<ShownWindow> windows_;
  std::chrono::steady_clock::time_point windowsRead_{};
  bool windowsFailureLogged_ = false;

  // Read by other threads.
  std::atomic<bool> pointerKnown_{false};
  std::atomic<double> pointerX_{0};
  std::atomic<double> pointerY_{0};

  friend struct PointerListeners;
};

}  // namespace velt
