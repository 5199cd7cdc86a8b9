#include "platform/wayland/wayland_overlay.h"

#include <wayland-client.h>

#include <QPainter>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/log.h"
#include "overlay/spotlight_geometry.h"
#include "overlay/spotlight_view.h"
#include "platform/wayland/wayland_screencopy.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace velt {
namespace {

// How long a magnifier waits for its picture before it shows without one.
constexpr int kPictureWait = 2000;  // ms
// How long the live lens places windows where sway last said they were.
constexpr auto kWindowsKept = std::chrono::milliseconds(100);

std::string desktopName() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return desktop && *desktop ? desktop : "this Wayland compositor";
}

}  // namespace

// wl_pointer: only ever over the overlay's own surfaces.
struct PointerListeners {
  using O = WaylandOverlay;

  static void enter(void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x,
                    wl_fixed_t y) {
    auto* self = static_cast<O*>(data);
    self->enteredOutput_ = self->outputOf(surface);
    if (self->enteredOutput_) {
      self->pointerSeen(*self->enteredOutput_, wl_fixed_to_double(x), wl_fixed_to_double(y));
    }
  }
  static void leave(void* data, wl_pointer*, uint32_t, wl_surface*) {
    static_cast<O*>(data)->enteredOutput_ = nullptr;
  }
  static void motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    auto* self = static_cast<O*>(data);
    if (self->enteredOutput_) {
      self->pointerSeen(*self->enteredOutput_, wl_fixed_to_double(x), wl_fixed_to_double(y));
    }
  }
  static void button(void*, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t) {}
  static void axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
  static void frame(void*, wl_pointer*) {}
  static void axisSource(void*, wl_pointer*, uint32_t) {}
  static void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
  static void axisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
  // Set member by member: newer libwayland adds members (events of seat
  // versions above the 5 bound here, never sent to this client).
  static constexpr wl_pointer_listener pointerListener = [] {
    wl_pointer_listener l{};
    l.enter = enter;
    l.leave = leave;
    l.motion = motion;
    l.button = button;
    l.axis = axis;
    l.frame = frame;
    l.axis_source = axisSource;
    l.axis_stop = axisStop;
    l.axis_discrete = axisDiscrete;
    return l;
  }();
};

// --- Connection --------------------------------------------------------------

std::unique_ptr<WaylandOverlay> WaylandOverlay::connect(const Settings& settings,
                                                        const Clock& clock) {
  std::unique_ptr<WaylandOverlay> overlay(new WaylandOverlay(settings, clock));
  overlay->connection_ = WaylandConnection::connect(overlay.get());
  if (!overlay->connection_ || !overlay->connection_->bindGlobals()) return nullptr;
  overlay->connection_->watch();
  const WaylandConnection::Globals& g = overlay->connection_->globals();
  overlay->windowPictures_.use(g.windowSources, g.imageCopies, g.shm);
  return overlay;
}

WaylandOverlay::WaylandOverlay(const Settings& settings, const Clock& clock)
    : settings_(settings),
      clock_(clock),
      // Out of the dispatch that brought the picture.
      windowPictures_([this] { QTimer::singleShot(0, &context_, [this] { composeWindows(); }); }),
      fade_(clock) {}

WaylandOverlay::~WaylandOverlay() {
  copy_.reset();
  surfaces_.clear();
  if (virtualPointer_) zwlr_virtual_pointer_v1_destroy(virtualPointer_);
  if (pointer_) wl_pointer_release(pointer_);
}

void WaylandOverlay::outputAdded(WaylandOutput& output) {
  // An output plugged in while the overlay shows gets its surface too.
  if (shown_) createSurface(output);
}

void WaylandOverlay::outputRemoved(WaylandOutput& output) {
  destroySurface(output);
  if (pointerOutput_ == &output) pointerOutput_ = nullptr;
  if (snapshotOutput_ == &output) snapshotOutput_ = nullptr;
  if (frozenOutput_ == &output) frozenOutput_ = nullptr;
}

void WaylandOverlay::seatCapabilities(wl_seat* seat, uint32_t capabilities) {
  const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
  if (hasPointer && !pointer_) {
    pointer_ = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(pointer_, &PointerListeners::pointerListener, this);
    // A seat that had no pointer before the overlay made its virtual one:
    // the compositor looks again and tells where the pointer is.
    if (shown_ && trackPointer_) nudgePointer();
  } else if (!hasPointer && pointer_) {
    wl_pointer_release(pointer_);
    pointer_ = nullptr;
    enteredOutput_ = nullptr;
  }
}

void WaylandOverlay::toplevelsOffered(zwlr_foreign_toplevel_manager_v1* manager) {
  toplevels_.track(manager);
}

void WaylandOverlay::windowListOffered(ext_foreign_toplevel_list_v1* list) {
  windowPictures_.track(list);
}

void WaylandOverlay::connectionLost(int error) {
  logFormat("overlay: the connection to %s ended (%s); the overlay stays hidden",
            desktopName().c_str(), std::strerror(error));
  shown_ = false;
}

// --- Pointer ------------------------------------------------------------------

WaylandOutput* WaylandOverlay::outputOf(wl_surface* surface) const {
  for (auto& [output, s] : surfaces_) {
    if (surface && s->surface() == surface) return output;
  }
  return nullptr;
}

void WaylandOverlay::pointerSeen(WaylandOutput& output, double x, double y) {
  const QRect logical = output.geometry.logical();
  pointerMovedTo({logical.x() + x, logical.y() + y});  // global compositor coordinates
}

void WaylandOverlay::setPointerPosition(PointF global) {
  pointerMovedTo(global);
}

void WaylandOverlay::pointerMovedTo(PointF global) {
  const std::optional<PointF> before = pointerGlobal_;
  pointerGlobal_ = global;
  pointerX_.store(global.x, std::memory_order_relaxed);
  pointerY_.store(global.y, std::memory_order_relaxed);
  pointerKnown_.store(true, std::memory_order_release);
  if (!shown_) return;
  if (trackPointer_) {
    updateInputRegions();
    nudgePointer();
  }
  refreshLens();
  WaylandOutput* now = connection_->outputAt(global);
  WaylandOutput* was = pointerOutput_;
  LayerSurface* nowSurface = surfaceOn(now);
  if (now && now != was) {
    // The overlay moves to the output the pointer went to.
    pointerOutput_ = now;
    if (LayerSurface* wasSurface = surfaceOn(was)) wasSurface->changedAll();
    if (nowSurface) nowSurface->changedAll();
    return;
  }
  if (!nowSurface) return;
  if (!before) {
    nowSurface->changedAll();
    return;
  }
  // The old and the new pointer areas.
  nowSurface->changed(QRegion(lensArea(*now, *before)) + QRegion(lensArea(*now, global)));
}

QRect WaylandOverlay::lensArea(const WaylandOutput& output, PointF global) const {
  // In the output's surface coordinates: the spotlight, dot or lens about
  // the pointer, and its rim.
  const int32_t size = std::max(settings_.spotlightSize.load(std::memory_order_relaxed), 44);
  const double half = size / 2 + 6;
  const QRect logical = output.geometry.logical();
  return QRectF(global.x - logical.x() - half, global.y - logical.y() - half, 2 * half, 2 * half)
      .toAlignedRect();
}

std::optional<PointF> WaylandOverlay::pointerPosition() {
  if (!pointerKnown_.load(std::memory_order_acquire)) return std::nullopt;
  return PointF{pointerX_.load(std::memory_order_relaxed),
                pointerY_.load(std::memory_order_relaxed)};
}

std::optional<WindowClass> WaylandOverlay::activeWindowClass() {
  return toplevels_.activeWindow();
}

void WaylandOverlay::watchActiveWindow(Handler handler) {
  toplevels_.watchActiveWindow(std::move(handler));
}

WaylandOutput* WaylandOverlay::pointerOutput() {
  if (pointerOutput_) return pointerOutput_;
  if (pointerGlobal_) pointerOutput_ = connection_->outputAt(*pointerGlobal_);
  return pointerOutput_;
}

QRegion WaylandOverlay::inputRegion(LayerSurface& surface) {
  // Following the pointer itself, the overlay covers its output but for the
  // pixels under the pointer as last seen (all of it while that is unknown:
  // the compositor then tells where the pointer is as the surface maps).
  // Otherwise it takes no input at all.
  if (!trackPointer_) return {};
  std::optional<QPointF> local;
  if (pointerGlobal_) {
    const QRect logical = surface.output().geometry.logical();
    local = QPointF(pointerGlobal_->x - logical.x(), pointerGlobal_->y - logical.y());
  }
  return inputRegionAround(surface.size(), local);
}

void WaylandOverlay::updateInputRegions() {
  for (auto& [output, surface] : surfaces_) surface->updateInputRegion();
}

void WaylandOverlay::nudgePointer() {
  // The compositor looks for the surface under the pointer only when the
  // pointer moves: a move of zero has it find the window in the hole.
  const WaylandConnection::Globals& g = connection_->globals();
  if (!g.virtualPointers || !g.seat) return;
  if (!virtualPointer_) {
    virtualPointer_ =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.virtualPointers, g.seat);
  }
  const auto now =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch());
  zwlr_virtual_pointer_v1_motion(virtualPointer_, static_cast<uint32_t>(now.count()), 0, 0);
  zwlr_virtual_pointer_v1_frame(virtualPointer_);
}

// --- Surfaces -----------------------------------------------------------------

void WaylandOverlay::createSurface(WaylandOutput& output) {
  const WaylandConnection::Globals& g = connection_->globals();
  if (surfaces_.count(&output) || !g.layerShell || !g.compositor) return;
  LayerSurface::Owner& owner = *this;
  surfaces_[&output] = std::make_unique<LayerSurface>(*connection_, output, owner);
}

void WaylandOverlay::destroySurface(WaylandOutput& output) {
  surfaces_.erase(&output);
  if (enteredOutput_ == &output) enteredOutput_ = nullptr;
}

LayerSurface* WaylandOverlay::surfaceOn(WaylandOutput* output) const {
  auto it = surfaces_.find(output);
  return it == surfaces_.end() ? nullptr : it->second.get();
}

void WaylandOverlay::closed(LayerSurface& surface) {
  destroySurface(surface.output());
}

void WaylandOverlay::frameShown(LayerSurface&) {
  if (fade_.running()) changedAll();
}

void WaylandOverlay::changedAll() {
  for (auto& [output, surface] : surfaces_) {
    if (output == pointerOutput_ || surface->showsPicture()) surface->changedAll();
  }
}

std::optional<QPointF> WaylandOverlay::draw(LayerSurface& surface, QPainter& painter,
                                            const QRegion& area) {
  const double opacity = fade_.opacity();
  WaylandOutput& output = surface.output();
  const bool showHere = shown_ && &output == pointerOutput() && pointerGlobal_;
  if (showHere) {
    const QRect logical = output.geometry.logical();
    SpotlightScene scene;
    scene.drawMode = drawMode_;
    scene.pointer = {pointerGlobal_->x - logical.x(),
                     surface.size().height() - (pointerGlobal_->y - logical.y())};
    scene.spotlightSize = settings_.spotlightSize.load(std::memory_order_relaxed);
    scene.screen = surface.size();
    if (snapshotOutput_ == &output) scene.snapshot = snapshot_;
    scene.opacity = opacity;
    scene.sprites = &sprites_;
    paintSpotlight(painter, area, scene);
    return QPointF(pointerGlobal_->x, pointerGlobal_->y);
  }
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  for (const QRect& r : area) painter.fillRect(r, Qt::transparent);
  return std::nullopt;
}

void WaylandOverlay::committed(LayerSurface&) {
  // A compositor may not look for the surface under a pointer that stays
  // still while the overlay maps (sway 1.12 does not): a move of zero, once
  // the overlay is there to be found, has it look.
  if (trackPointer_ && !pointerGlobal_) nudgePointer();
  connection_->flush();
}

// --- OverlayWindowPort ----------------------------------------------------------

void WaylandOverlay::setMode(int32_t drawMode) {
  drawMode_ = drawMode;
  liveRefusals_ = 0;
  if (refresh_ && drawMode != kDrawMagnifier) refresh_->stop();
}

void WaylandOverlay::saveScreen() {
  dropPicture();
  WaylandOutput* output = pointerOutput();
  const auto& outputs = connection_->outputs();
  if (!output && !outputs.empty()) output = outputs.front().get();
  snapshotOutput_ = output;
  const uint64_t request = ++pictureRequest_;
  pictureAwaited_ = true;
  if (!output || connection_->isLost()) {
    pictureTaken(request, {}, "it has no output");
    return;
  }
  const WaylandConnection::Globals& g = connection_->globals();
  if (g.screencopy && !sway_ && !std::exchange(frozenLensLogged_, true)) {
    logFormat(
        "overlay: %s's wlr-screencopy pictures hold the overlay itself and it offers no "
        "picture without it; the magnifier shows the screen as it was when the lens opened",
        desktopName().c_str());
  }
  if (g.screencopy) {
    copy_ = std::make_unique<ScreenCopy>(g.screencopy, g.shm, output->output, [this, request] {
      // Out of the dispatch that brought the answer: the copy goes now.
      QTimer::singleShot(0, &context_, [this, request] {
        if (request != pictureRequest_ || !copy_) return;
        std::optional<OutputPicture> picture = copy_->picture();
        pictureTaken(request, picture ? picture->image : QImage(), "it failed the copy");
      });
    });
    connection_->flush();
  } else if (grabber_) {
    grabber_(output->geometry.logical(),
             [this, alive = std::weak_ptr<const bool>(alive_), request](QImage picture) {
               if (alive.lock()) pictureTaken(request, std::move(picture), nullptr);
             });
  } else {
    pictureTaken(request, {}, "it offers neither wlr-screencopy nor its own screenshot interface");
    return;
  }
  QTimer::singleShot(kPictureWait, &context_, [this, request] {
    pictureTaken(request, {}, "it sent none within two seconds");
  });
}

void WaylandOverlay::pictureTaken(uint64_t request, QImage picture, const char* failure) {
  if (request != pictureRequest_ || !pictureAwaited_) return;
  pictureAwaited_ = false;
  copy_.reset();
  snapshot_ = std::move(picture);
  if (sway_) {
    frozen_ = snapshot_;
    frozenOutput_ = snapshotOutput_;
  }
  // failure: null when the grabber has logged its own reason.
  if (snapshot_.isNull() && failure && !grabFailureLogged_) {
    grabFailureLogged_ = true;
    logFormat(
        "overlay: %s gives the agent no picture of the screen (%s); the magnifier stays empty",
        desktopName().c_str(), failure);
  }
  if (std::exchange(showWhenPictured_, false)) fadeIn();
}

void WaylandOverlay::dropPicture() {
  pictureAwaited_ = false;
  showWhenPictured_ = false;
  copy_.reset();
  snapshot_ = QImage();
  snapshotOutput_ = nullptr;
  frozen_ = QImage();
  frozenOutput_ = nullptr;
  lensSource_ = QRect();
  windowPictures_.clear();
}

void WaylandOverlay::fadeIn() {
  const WaylandConnection::Globals& g = connection_->globals();
  if (!g.layerShell || connection_->isLost()) return;
  if (pictureAwaited_) {
    showWhenPictured_ = true;
    return;
  }
  shown_ = true;
  pointerOutput_ = nullptr;
  fade_.start(0, 1);
  if (trackPointer_ && g.virtualPointers && g.seat && !virtualPointer_) {
    // Made before the overlay maps: a seat without a pointer device gives
    // no client a pointer at all.
    virtualPointer_ =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.virtualPointers, g.seat);
  }
  if (following_) following_(true);
  refreshLens();
  for (auto& output : connection_->outputs()) {
    if (LayerSurface* surface = surfaceOn(output.get())) {
      surface->changedAll();
    } else {
      createSurface(*output);
    }
  }
  connection_->flush();
}

void WaylandOverlay::fadeOut() {
  showWhenPictured_ = false;
  if (refresh_) refresh_->stop();
  liveRefusals_ = 0;
  if (!shown_) return;
  fade_.start(1, 0);
  changedAll();
}

void WaylandOverlay::hideWindow() {
  if (shown_ && following_) following_(false);
  shown_ = false;
  if (refresh_) refresh_->stop();
  fade_.stop();
  surfaces_.clear();
  enteredOutput_ = nullptr;
  pointerOutput_ = nullptr;
  dropPicture();
  connection_->flush();
}

void WaylandOverlay::redrawScreen() {
  // The overlay follows the pointer as it learns of its moves; motion from
  // the taken-over mice asks for nothing more.
}

void WaylandOverlay::setNeedsDisplay() {
  if (refresh_ && refresh_->running()) {
    refresh_->sizeChanged(settings_.spotlightSize.load(std::memory_order_relaxed));
  }
  changedAll();
}

// --- The live lens ------------------------------------------------------------

void WaylandOverlay::setLiveGrabber(ScreenGrabber grabber, MainThread& mainThread,
                                    DelayedTasks& delayed) {
  liveGrabber_ = std::move(grabber);
  refresh_ = std::make_unique<MagnifierRefresh>(mainThread, delayed,
                                                [this](RectF area) { captureLens(area); });
}

void WaylandOverlay::refreshLens() {
  if (!refresh_ || !shown_ || drawMode_ != kDrawMagnifier || !pointerGlobal_) return;
  if (liveRefusals_ >= kLiveRefusalsKept) return;
  WaylandOutput* output = connection_->outputAt(*pointerGlobal_);
  if (!output) return;
  const QRect l = output->geometry.logical();
  const RectF logical{static_cast<double>(l.x()), static_cast<double>(l.y()),
                      static_cast<double>(l.width()), static_cast<double>(l.height())};
  if (refresh_->running()) {
    refresh_->pointerMoved(*pointerGlobal_, logical);
  } else {
    refresh_->start(*pointerGlobal_, logical,
                    settings_.spotlightSize.load(std::memory_order_relaxed));
  }
}

void WaylandOverlay::captureLens(RectF area) {
  const uint64_t request = ++lensRequest_;
  const QRect rect = QRectF(area.x, area.y, area.width, area.height).toAlignedRect();
  liveGrabber_(rect,
               [this, alive = std::weak_ptr<const bool>(alive_), request, rect](QImage picture) {
                 if (alive.lock()) lensPictured(request, rect, std::move(picture));
               });
}

void WaylandOverlay::lensPictured(uint64_t request, QRect area, QImage picture) {
  if (request != lensRequest_) return;
  refresh_->captured();
  if (picture.isNull()) {
    // A KWin that composites without OpenGL refuses every picture: asking
    // again at each move would only cost. The lens stays as it is until it
    // opens again.
    if (++liveRefusals_ >= kLiveRefusalsKept) refresh_->stop();
    return;
  }
  liveRefusals_ = 0;
  if (shown_) placeLensPicture(area, picture);
}

void WaylandOverlay::placeLensPicture(QRect area, const QImage& picture) {
  WaylandOutput* output =
      connection_->outputAt({area.x() + area.width() / 2.0, area.y() + area.height() / 2.0});
  if (!output) return;
  // The square goes into the output's picture at its place, in the
  // picture's pixels.
  QImage& into = pictureOf(*output, static_cast<double>(picture.width()) / area.width());
  const QRect logical = output->geometry.logical();
  const double k = static_cast<double>(into.width()) / logical.width();
  {
    QPainter painter(&into);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF((area.x() - logical.x()) * k, (area.y() - logical.y()) * k,
                             area.width() * k, area.height() * k),
                      picture);
  }
  lensChanged(*output);
}

QImage& WaylandOverlay::pictureOf(WaylandOutput& output, double scale) {
  // On another output than the one pictured as the lens opened, a picture
  // of that output holding only what the lens has shown there.
  if (snapshotOutput_ != &output || snapshot_.isNull()) {
    if (&output == frozenOutput_ && !frozen_.isNull()) {
      snapshot_ = frozen_;
    } else {
      snapshot_ = QImage(output.geometry.logical().size() * scale, QImage::Format_RGB32);
      snapshot_.fill(Qt::black);
    }
    snapshotOutput_ = &output;
  }
  return snapshot_;
}

void WaylandOverlay::lensChanged(WaylandOutput& output) {
  if (LayerSurface* surface = surfaceOn(&output); surface && pointerGlobal_) {
    surface->changed(QRegion(lensArea(output, *pointerGlobal_)));
  }
}

// --- The live lens from window pictures ----------------------------------------

bool WaylandOverlay::liveFromWindows(MainThread& mainThread, DelayedTasks& delayed) {
  if (!windowPictures_.usable()) return false;
  sway_ = SwayIpc::fromEnvironment();
  if (!sway_) return false;
  refresh_ = std::make_unique<MagnifierRefresh>(mainThread, delayed,
                                                [this](RectF area) { captureWindows(area); });
  return true;
}

void WaylandOverlay::captureWindows(RectF area) {
  lensSource_ = QRectF(area.x, area.y, area.width, area.height).toAlignedRect();
  const auto now = clock_.now();
  if (now - windowsRead_ >= kWindowsKept) {
    std::string reason;
    std::optional<std::string> tree = sway_->tree(reason);
    windowsRead_ = now;
    if (tree) {
      windows_ = shownWindows(*tree);
    } else if (!std::exchange(windowsFailureLogged_, true)) {
      logFormat(
          "overlay: sway does not say where its windows are (%s); the magnifier shows the "
          "screen as it was when the lens opened",
          reason.c_str());
    }
  }
  // The windows' latest pictures now; each new one as it comes.
  for (const ShownWindow& window : windows_) {
    if (window.content.intersects(lensSource_)) windowPictures_.ask(window.identifier);
  }
  composeWindows();
  refresh_->captured();
}

void WaylandOverlay::composeWindows() {
  if (!shown_ || drawMode_ != kDrawMagnifier || lensSource_.isEmpty()) return;
  const QRect area = lensSource_;
  WaylandOutput* output =
      connection_->outputAt({area.x() + area.width() / 2.0, area.y() + area.height() / 2.0});
  if (!output) return;
  // Straight into the output's picture, within the square alone: the
  // picture as the lens opened, then the windows, lowest first.
  QImage& into = pictureOf(*output, 1.0);
  const QRect logical = output->geometry.logical();
  const double k = static_cast<double>(into.width()) / logical.width();
  auto inPicture = [&](const QRect& r) {
    return QRectF((r.x() - logical.x()) * k, (r.y() - logical.y()) * k, r.width() * k,
                  r.height() * k);
  };
  const QRectF square = inPicture(area);
  {
    QPainter painter(&into);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setClipRect(square.toAlignedRect());
    if (output == frozenOutput_ && !frozen_.isNull() && frozen_.size() == into.size()) {
      painter.drawImage(square, frozen_, square);
    } else {
      painter.fillRect(square, Qt::black);
    }
    for (const ShownWindow& window : windows_) {
      if (!window.content.intersects(area)) continue;
      if (const QImage* image = windowPictures_.latest(window.identifier)) {
        painter.drawImage(inPicture(window.content), *image);
      }
    }
  }
  lensChanged(*output);
}

}  // namespace velt
