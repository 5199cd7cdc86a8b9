// Which overlay, pointer and focused-window backends the agent uses, chosen
// once at start-up from what the session offers: the compositor's own
// answers, not the environment alone.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "actions/synthetic_input.h"

namespace velt {

// What the session offers, as learnt from it at start-up.
struct SessionOffer {
  bool wayland = false;         // a Wayland compositor answered on WAYLAND_DISPLAY
  bool layerShell = false;      // ... and offers zwlr_layer_shell_v1
  bool virtualPointer = false;  // ... and zwlr_virtual_pointer_manager_v1
  bool kwin = false;            // KWin runs the session (org.kde.KWin on the bus)
  bool gnomeShell = false;      // GNOME Shell runs it (org.gnome.Shell on the bus)
  bool x11 = false;             // an X display answered (XWayland included)
  std::string desktop;          // XDG_CURRENT_DESKTOP, for the log
};

enum class OverlayBackend {
  X11,         // an override-redirect window, the pointer from X11
  LayerShell,  // a layer-shell surface; the pointer from its own input, a
               // virtual pointer making the compositor look again
  KWinScript,  // a layer-shell surface; pointer and focus from a KWin script
  GnomeShell,  // the agent's shell extension draws and tells pointer and focus
  None,        // nothing can show it; logged once
};

OverlayBackend chooseOverlayBackend(const SessionOffer& offer);

// The pointer position and the focused application, from whichever backend
// was chosen (X11 until then). Any thread; the focus handler moves with the
// backend.
class SessionQueries : public PointerLocator, public ActiveWindowQuery, public FocusSource {
 public:
  template <typename Windows>
  SessionQueries(PointerLocator& pointer, Windows& windows)
      : pointer_(&pointer), windows_(&windows), focus_(&windows) {}
  // Main thread. The handler, if any, leaves the old backend and first hears
  // what the new one knows.
  void use(PointerLocator& pointer, ActiveWindowQuery& windows, FocusSource& focus);
  template <typename Windows>
  void use(PointerLocator& pointer, Windows& windows) {
    use(pointer, windows, windows);
  }
  std::optional<PointF> pointerPosition() override {
    return pointer_.load(std::memory_order_acquire)->pointerPosition();
  }
  std::optional<WindowClass> activeWindowClass() override {
    return windows_.load(std::memory_order_acquire)->activeWindowClass();
  }
  // Main thread.
  void watchActiveWindow(Handler handler) override;
  std::vector<WindowClass> openWindows() override { return focus_->openWindows(); }

 private:
  std::atomic<PointerLocator*> pointer_;
  std::atomic<ActiveWindowQuery*> windows_;
  FocusSource* focus_;  // main thread
  Handler handler_;     // main thread
};

}  // namespace velt
