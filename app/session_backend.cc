#include "app/session_backend.h"

#include "core/log.h"

namespace velt {

OverlayBackend chooseOverlayBackend(const SessionOffer& offer) {
  if (offer.wayland) {
    if (offer.gnomeShell) {
      logLine(
          "session: GNOME Shell on Wayland; the overlay, the pointer and the focused window "
          "come from the agent's shell extension");
      return OverlayBackend::GnomeShell;
    }
    if (offer.layerShell && offer.kwin) return OverlayBackend::KWinScript;
    if (offer.layerShell && offer.virtualPointer) return OverlayBackend::LayerShell;
    if (offer.layerShell) {
      logFormat(
          "overlay: %s tells the agent nowhere where the pointer is (no KWin, no "
          "zwlr_virtual_pointer_manager_v1), so the overlay cannot follow it and does not show",
          offer.desktop.empty() ? "the Wayland compositor" : offer.desktop.c_str());
      return OverlayBackend::None;
    }
    logFormat(
        "overlay: %s offers no layer-shell, so the spotlight, pointer dot and magnifier cannot "
        "show; a compositor with zwlr_layer_shell_v1 (KDE Plasma, sway) shows them",
        offer.desktop.empty() ? "the Wayland compositor" : offer.desktop.c_str());
    return OverlayBackend::None;
  }
  if (offer.x11) return OverlayBackend::X11;
  logFormat("overlay: no Wayland compositor and no X11 display; the overlay cannot show");
  return OverlayBackend::None;
}

void SessionQueries::use(PointerLocator& pointer, ActiveWindowQuery& windows, FocusSource& focus) {
  pointer_.store(&pointer, std::memory_order_release);
  windows_.store(&windows, std::memory_order_release);
  if (&focus == focus_) return;
  if (handler_) focus_->watchActiveWindow(nullptr);
  focus_ = &focus;
  if (handler_) focus_->watchActiveWindow(handler_);
}

void SessionQueries::watchActiveWindow(Handler handler) {
  handler_ = std::move(handler);
  focus_->watchActiveWindow(handler_);
}

}  // namespace velt
