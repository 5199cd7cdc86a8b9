// What the agent asks of GNOME Shell in a Wayland session, through its shell
// extension (packaging/gnome-shell, bus name quorin.driver.velt.Shell, heard
// only while the shell itself holds it: ShellExtensionOwner). The
// shell lets no client draw above its windows or learn where the pointer is
// or which window has the focus; the extension, running inside the shell,
// can.
//
// The split: the agent's OverlayController stays the one state machine
// (toggle, hold, fades' timing, hiding when the last mouse goes, wheel
// resizing); ShellOverlay only tells the extension to show, resize, fade out
// and hide. The extension draws and follows the pointer itself, every frame,
// from monitor to monitor, whatever moves the pointer, and its magnifier
// enlarges the screen live with the shell's own means, so no picture crosses
// the bus.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "actions/synthetic_input.h"
#include "core/settings.h"
#include "overlay/overlay_controller.h"

class QDBusMessage;

namespace velt {

class ShellExtensionOwner;

// The pointer and the focused window, as the extension tells them.
class GnomeShellSession : public QObject,
                          public PointerLocator,
                          public ActiveWindowQuery,
                          public FocusSource {
  Q_OBJECT

 public:
  // Main thread: follows the extension's focus signal from here on.
  explicit GnomeShellSession(QObject* parent = nullptr);

  // Asks the extension; any thread but the main one, which it would hold for
  // up to a quarter of a second when the shell is slow. Shell coordinates:
  // logical pixels, origin at the top left of the monitor layout.
  std::optional<PointF> pointerPosition() override;
  // The class the extension reported at the last focus change (for a Wayland
  // client its app id): answered at once, from any thread.
  std::optional<WindowClass> activeWindowClass() override;
  // Told on the main thread.
  void watchActiveWindow(Handler handler) override {
    notices_.setHandler(std::move(handler), [this] { return activeWindowClass(); });
  }
  // Asks the extension, waiting for it a quarter of a second at most.
  std::vector<WindowClass> openWindows() override;

 signals:
  // The extension told the focused window, or went.
  void focusChanged();

 private slots:
  // (instance, class, application); an extension of an older agent that
  // the shell still runs until the next log-in sends no application.
  void focusedWindowChanged(const QDBusMessage& message);

 private:
  void askFocusedWindow();
  void setFocused(std::optional<WindowClass> focused);

  ShellExtensionOwner* owner_;  // only the shell speaks for the extension
  std::mutex mutex_;
  std::optional<WindowClass> focused_;  // guarded by mutex_
  FocusNotices notices_;
  std::atomic<bool> pointerFailureLogged_{false};
};

// The overlay drawn by the extension. Main thread only, like every port.
class ShellOverlay : public OverlayWindowPort {
 public:
  explicit ShellOverlay(const Settings& settings);

  void setMode(int32_t drawMode) override { mode_ = drawMode; }
  // The extension's lens shows the screen beneath it as it is at every
  // frame: there is no picture to take.
  void saveScreen() override {}
  void fadeIn() override;
  void fadeOut() override;
  void hideWindow() override;
  // The extension follows the pointer by itself, every frame.
  void redrawScreen() override {}
  bool followsPointerItself() const override { return true; }
  // After a wheel step: the new size.
  void setNeedsDisplay() override;

 private:
  void call(const char* method, const QVariantList& arguments = {});

  const Settings& settings_;
  QObject context_;  // owns the calls under way
  int32_t mode_ = 0;
  bool failureLogged_ = false;
};

}  // namespace velt
