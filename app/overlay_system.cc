#include "app/overlay_system.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <cstdlib>

#include "core/clock.h"
#include "core/log.h"
#include "platform/x11/x11_compositing.h"

namespace velt {

// The X11 overlay window, which follows every pointer device while it shows:
// each move of the pointer asks for a redraw, as the taken-over mice do.
class OverlaySystem::FollowingWindow : public OverlayWindowPort {
 public:
  FollowingWindow(OverlayWindowPort& window, X11PointerWatch& watch)
      : window_(window), watch_(watch) {}
  void setMode(int32_t drawMode) override { window_.setMode(drawMode); }
  void saveScreen() override { window_.saveScreen(); }
  void fadeIn() override {
    window_.fadeIn();
    watch_.setWatching(true);
  }
  void fadeOut() override { window_.fadeOut(); }
  void hideWindow() override {
    watch_.setWatching(false);
    window_.hideWindow();
  }
  void redrawScreen() override { window_.redrawScreen(); }
  void setNeedsDisplay() override { window_.setNeedsDisplay(); }

 private:
  OverlayWindowPort& window_;
  X11PointerWatch& watch_;
};

OverlaySystem::OverlaySystem(Settings& settings, SettingsStore& store, PointerModeState& modes,
                             MainThread& mainThread, PointerOutput& output, DelayedTasks& timers)
    : overlay(
          settings, [&store] { store.saveSettings(); }, mainThread, timers),
      taps(modes, settings, nullptr, output, overlay, timers),
      takeover(taps, timers),
      settings_(settings),
      mainThread_(mainThread),
      timers_(timers) {
  overlay.attach(nullptr, &taps);
}

OverlaySystem::~OverlaySystem() {
  takeover.stop();
}

void OverlaySystem::createOverlayWindow(const std::filesystem::path& resources) {
  if (window_ || wayland_ || shellOverlay_) return;
  SessionOffer offer;
  if (const char* desktop = std::getenv("XDG_CURRENT_DESKTOP")) offer.desktop = desktop;
  wayland_ = WaylandOverlay::connect(settings_, systemClock());
  offer.wayland = wayland_ != nullptr;
  offer.layerShell = wayland_ && wayland_->offersLayerShell();
  offer.virtualPointer = wayland_ && wayland_->offersVirtualPointer();
  if (offer.wayland) {
    auto* bus = QDBusConnection::sessionBus().interface();
    offer.kwin = bus && bus->isServiceRegistered(QStringLiteral("org.kde.KWin"));
    offer.gnomeShell = bus && bus->isServiceRegistered(QStringLiteral("org.gnome.Shell"));
  }
  offer.x11 = !offer.wayland && QGuiApplication::platformName() != QLatin1String("wayland");
  backend_ = chooseOverlayBackend(offer);
  switch (backend_) {
    case OverlayBackend::KWinScript: {
      wayland_->usePointerSource();
      kwin_ = std::make_unique<KWinBridge>(
          QString::fromStdString((resources / "kwin/velt-overlay.js").string()),
          [this](PointF at) { wayland_->setPointerPosition(at); });
      wayland_->setFollowing([this](bool on) { kwin_->setFollowing(on); });
      startKWinGrabs();
      kwin_->start();
      overlay.attach(wayland_.get(), &taps);
      return;
    }
    case OverlayBackend::LayerShell:
      // sway with pictures of single windows keeps the magnifier live.
      wayland_->liveFromWindows(mainThread_, timers_);
      overlay.attach(wayland_.get(), &taps);
      return;
    case OverlayBackend::X11:
      window_ = std::make_unique<OverlayWindow>(settings_, compositingManagerRunning);
      if (auto beneath = X11ScreenBeneath::open()) {
        window_->setScreenBeneath(std::move(beneath), mainThread_, timers_);
      }
      pointerWatch_ =
          std::make_unique<X11PointerWatch>([this] { overlay.requestOverlayRedraw(0); });
      following_ = std::make_unique<FollowingWindow>(*window_, *pointerWatch_);
      overlay.attach(following_.get(), &taps);
      return;
    case OverlayBackend::GnomeShell:
      wayland_.reset();
      shellOverlay_ = std::make_unique<ShellOverlay>(settings_);
      overlay.attach(shellOverlay_.get(), &taps);
      return;
    case OverlayBackend::None:
      wayland_.reset();
      return;
  }
}

void OverlaySystem::startKWinGrabs() {
  grabs_ = std::make_unique<SerialQueue>("velt screen grab");
  // The grabber takes its picture on the grab thread and answers on the
  // main thread.
  auto grabber = [this](bool withoutOverlay) {
    return [this, withoutOverlay](QRect area, std::function<void(QImage)> done) {
      grabs_->post([this, area, withoutOverlay, done = std::move(done)]() mutable {
        QString reason;
        QImage picture = KWinBridge::captureArea(area, reason, withoutOverlay);
        if (picture.isNull() && !kwinGrabFailureLogged_.exchange(true)) {
          logFormat(
              "overlay: KWin gives no picture of the screen (%s); the package's desktop "
              "entry grants it (X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2)",
              reason.toUtf8().constData());
        }
        mainThread_.post([picture = std::move(picture), done = std::move(done)]() mutable {
          done(std::move(picture));
        });
      });
    };
  };
  wayland_->setScreenGrabber(grabber(false));
  // Whether KWin can leave the overlay out of its pictures, and so keep the
  // magnifier live, is its interface's version.
  grabs_->post([this, grabber] {
    const int version = KWinBridge::screenShotVersion();
    mainThread_.post([this, grabber, version] {
      if (version >= KWinBridge::kScreenShotHidesCaller) {
        wayland_->setLiveGrabber(grabber(true), mainThread_, timers_);
        return;
      }
      logFormat(
          "overlay: KWin's ScreenShot2 (version %d) cannot leave the agent's overlay out of a "
          "picture (hide-caller-windows needs version %d); the magnifier shows the screen as "
          "it was when the lens opened",
          version, KWinBridge::kScreenShotHidesCaller);
    });
  });
}

void OverlaySystem::stop() {
  takeover.stop();
}

ActiveWindowQuery* OverlaySystem::activeWindows() {
  if (kwin_) return kwin_.get();
  if (wayland_ && wayland_->offersForeignToplevels()) return wayland_.get();
  return nullptr;
}

FocusSource* OverlaySystem::focusSource() {
  if (kwin_) return kwin_.get();
  if (wayland_ && wayland_->offersForeignToplevels()) return wayland_.get();
  return nullptr;
}

}  // namespace velt
