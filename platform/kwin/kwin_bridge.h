// What the agent learns from KWin over the session bus, where a Wayland
// client learns nothing by itself: the pointer's position and the focused
// window, from a script the agent loads into KWin (resources/kwin), and
// pictures of the screen through KWin's ScreenShot2 interface, which KWin
// grants to programs whose desktop entry lists it
// (X-KDE-DBUS-Restricted-Interfaces).
//
// The script calls the agent's object /quorin/driver/velt/KWin
// (quorin.driver.velt.KWin): Pointer(x, y) while the overlay shows, and
// ActiveWindow(class, desktop file) whenever the focus changes, and
// Windows(list) whenever a window opens or closes: a line for each window a
// task bar would show, its class, a tab and its desktop file. All are
// heard only from KWin itself, the owner of org.kde.KWin: another program
// of the user could otherwise move the overlay or pose as the presentation.
// Pointer is answered, so that the script stops when the agent has gone.
// The agent starts and stops the pointer reports through two shortcuts the
// script registers, invoked through kglobalaccel. Main thread;
// activeWindowClass from any thread; each change of the focus is told on the
// main thread.
#pragma once

#include <QtDBus/qtdbusglobal.h>

#include <QDBusContext>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/geometry.h"

namespace velt {

class KWinBridge : public QObject,
                   public ActiveWindowQuery,
                   public FocusSource,
                   protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "quorin.driver.velt.KWin")

 public:
  // pointerMoved gets global compositor coordinates, on the main thread.
  KWinBridge(QString scriptFile, std::function<void(PointF)> pointerMoved);
  ~KWinBridge() override;

  // Offers the object on the bus and loads the script into KWin (answers
  // arrive later; a refusal is logged once).
  void start();
  // Starts or stops the pointer reports.
  void setFollowing(bool on);

  std::optional<WindowClass> activeWindowClass() override;
  void watchActiveWindow(Handler handler) override {
    notices_.setHandler(std::move(handler), [this] { return activeWindowClass(); });
  }
  // As the script last listed them.
  std::vector<WindowClass> openWindows() override;

  // A picture of an area of the screen (global coordinates) at the
  // outputs' own resolution; null with reason when KWin refuses. Waits for
  // KWin, at most a second or two. withoutOwnWindows leaves the agent's own
  // surfaces (the overlay) out, which KWin does from ScreenShot2 version
  // kScreenShotHidesCaller on; older ones show them.
  static QImage captureArea(const QRect& area, QString& reason, bool withoutOwnWindows = false);
  // The version ScreenShot2 says it is; 0 when it does not answer. Waits for
  // KWin, at most a second.
  static int screenShotVersion();
  static constexpr int kScreenShotHidesCaller = 5;

 public Q_SLOTS:
  void Pointer(int x, int y);
  Q_NOREPLY void ActiveWindow(const QString& windowClass, const QString& desktopFile);
  Q_NOREPLY void Windows(const QString& list);

 private:
  void loadScript();
  // The call being handled comes from KWin (else logged, once a while).
  bool fromKWin();
  void runScript(int id);
  void invokeShortcut(const QString& name);

  QString scriptFile_;
  std::function<void(PointF)> pointerMoved_;
  bool registered_ = false;
  bool following_ = false;
  QString kwin_;  // the unique name of org.kde.KWin's owner
  std::mutex mutex_;
  std::optional<WindowClass> active_;  // guarded by mutex_
  std::vector<WindowClass> open_;      // guarded by mutex_
  FocusNotices notices_;
};

}  // namespace velt
