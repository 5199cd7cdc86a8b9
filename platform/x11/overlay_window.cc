#include "platform/x11/overlay_window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QScreen>

#include "core/log.h"

namespace velt {

QScreen* screenUnderPointer() {
  if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
  return QGuiApplication::primaryScreen();
}

OverlayWindow::OverlayWindow(const Settings& settings, std::function<bool()> compositing)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus),
      view_(new SpotlightView(settings, this)),
      fade_(new QPropertyAnimation(this, "windowOpacity", this)),
      compositing_(std::move(compositing)),
      grabber_([](QScreen* screen) { return screen->grabWindow(0).toImage(); }) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setWindowTitle(QStringLiteral("VELT Mouse Assistant overlay"));
  fade_->setDuration(static_cast<int>(kFadeDuration.count()));
}

OverlayWindow::~OverlayWindow() = default;

void OverlayWindow::setMode(int32_t drawMode) {
  view_->setMode(drawMode);
  if (drawMode != kDrawMagnifier) stopLens(true);
}

QImage OverlayWindow::grabScreen(QScreen* screen) {
  QImage picture;
  if (screen) picture = grabber_(screen);
  if (picture.isNull() && !grabFailureLogged_) {
    grabFailureLogged_ = true;
    logFormat("overlay: cannot take a picture of screen %s; the magnifier stays empty",
              screen ? screen->name().toUtf8().constData() : "(none)");
  }
  return picture;
}

void OverlayWindow::saveScreen() {
  // The windows' storage is kept from before the overlay shows: storage
  // made later would start as a copy of the screen, the overlay with it.
  if (beneath_) beneath_->keep(true);
  QScreen* screen = screenUnderPointer();
  freshPicture_ = grabScreen(screen);
  freshPictureScreen_ = screen;
  view_->saveScreen(freshPicture_);
}

void OverlayWindow::fadeIn() {
  QScreen* screen = screenUnderPointer();
  QRect frame = screen ? screen->geometry() : QRect();
  view_->setScreenSize(frame.size());
  if (compositing_ && compositing_()) {
    view_->setBackdrop({});
  } else if (!freshPicture_.isNull() && freshPictureScreen_ == screen) {
    view_->setBackdrop(freshPicture_);
  } else {
    view_->setBackdrop(grabScreen(screen));
  }
  freshPicture_ = {};
  freshPictureScreen_ = nullptr;

  // A point wider and taller than the screen, as it always was.
  QRect covered(frame.topLeft(), frame.size() + QSize(1, 1));
  setGeometry(covered);
  view_->setGeometry(QRect(QPoint(0, 0), covered.size()));
  fade(0, 1);
  show();
  raise();
  view_->update();
  shownOn_ = frame;
  refreshLens();
}

void OverlayWindow::fadeOut() {
  stopLens(false);
  fade(1, 0);
  raise();
}

void OverlayWindow::fade(double from, double to) {
  fade_->stop();
  setWindowOpacity(from);
  fade_->setStartValue(from);
  fade_->setEndValue(to);
  fade_->start();
}

void OverlayWindow::hideWindow() {
  stopLens(true);
  shownOn_ = {};
  fade_->stop();
  hide();
  view_->setBackdrop({});
}

void OverlayWindow::redrawScreen() {
  view_->redrawScreen();
  refreshLens();
}

void OverlayWindow::setNeedsDisplay() {
  view_->update();
  if (refresh_ && refresh_->running()) {
    refresh_->sizeChanged(view_->spotlightSize());
  }
}

// --- The live lens ------------------------------------------------------------

void OverlayWindow::setScreenBeneath(std::unique_ptr<ScreenBeneath> beneath, MainThread& mainThread,
                                     DelayedTasks& delayed) {
  beneath_ = std::move(beneath);
  refresh_ = std::make_unique<MagnifierRefresh>(mainThread, delayed,
                                                [this](RectF area) { captureLens(area); });
}

void OverlayWindow::refreshLens() {
  if (!refresh_ || shownOn_.isEmpty() || view_->getDrawMode() != kDrawMagnifier) return;
  const QPoint at = QCursor::pos();
  const PointF pointer{static_cast<double>(at.x()), static_cast<double>(at.y())};
  const RectF screen{static_cast<double>(shownOn_.x()), static_cast<double>(shownOn_.y()),
                     static_cast<double>(shownOn_.width()), static_cast<double>(shownOn_.height())};
  if (refresh_->running()) {
    refresh_->pointerMoved(pointer, screen);
    return;
  }
  beneath_->keep(true);
  refresh_->start(pointer, screen, view_->spotlightSize());
}

void OverlayWindow::captureLens(RectF area) {
  const QRect rect = QRectF(area.x, area.y, area.width, area.height).toAlignedRect();
  // Read at once: the windows' storage answers in well under a frame.
  const QImage picture = beneath_->picture(rect, static_cast<uint32_t>(winId()));
  refresh_->captured();
  if (!picture.isNull()) view_->updateSnapshot(rect.translated(-shownOn_.topLeft()), picture);
}

void OverlayWindow::stopLens(bool letGo) {
  if (!refresh_) return;
  refresh_->stop();
  if (letGo) beneath_->keep(false);
}

}  // namespace velt
