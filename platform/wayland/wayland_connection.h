// A connection of the agent's own to the Wayland compositor, and the globals
// it offers: what the overlay and the overlay benchmark bind. The outputs
// are followed as they come and go. Single-threaded: everything here, and
// every call to the client, happens on the thread that dispatches.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/geometry.h"
#include "platform/wayland/wayland_output.h"

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct zxdg_output_manager_v1;
struct zwlr_layer_shell_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_virtual_pointer_manager_v1;
struct ext_foreign_toplevel_list_v1;
struct ext_foreign_toplevel_image_capture_source_manager_v1;
struct ext_image_copy_capture_manager_v1;
struct wp_presentation;
class QSocketNotifier;

namespace velt {

class WaylandConnection {
 public:
  // What the connection's owner hears, from inside a dispatch.
  class Client {
   public:
    virtual void outputAdded(WaylandOutput&) {}
    // Just before the output goes.
    virtual void outputRemoved(WaylandOutput&) {}
    virtual void seatCapabilities(wl_seat*, uint32_t /*capabilities*/) {}
    // The compositor offers foreign-toplevel; the client owns the manager.
    virtual void toplevelsOffered(zwlr_foreign_toplevel_manager_v1*) {}
    // The compositor offers ext-foreign-toplevel-list; the client owns it.
    virtual void windowListOffered(ext_foreign_toplevel_list_v1*) {}
    // errno's value for why the connection ended.
    virtual void connectionLost(int /*error*/) {}

   protected:
    ~Client() = default;
  };

  struct Globals {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;  // the first one
    zxdg_output_manager_v1* xdgOutputs = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    zwlr_screencopy_manager_v1* screencopy = nullptr;
    zwlr_virtual_pointer_manager_v1* virtualPointers = nullptr;
    wp_presentation* presentation = nullptr;
    // Pictures of single windows.
    ext_foreign_toplevel_image_capture_source_manager_v1* windowSources = nullptr;
    ext_image_copy_capture_manager_v1* imageCopies = nullptr;
    // The clock the presentation times are on (clock_gettime's ids).
    std::optional<uint32_t> presentationClock;
  };

  // Connects to the compositor named by WAYLAND_DISPLAY; nullptr when there
  // is none (logged when it would not answer). client may be null.
  static std::unique_ptr<WaylandConnection> connect(Client* client);
  // Learns the globals and outputs; false (logged) when the compositor
  // closed the connection meanwhile. The client's objects made from inside
  // go before the connection does.
  bool bindGlobals();
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  wl_display* display() const { return display_; }
  const Globals& globals() const { return globals_; }
  const std::vector<std::unique_ptr<WaylandOutput>>& outputs() const { return outputs_; }
  WaylandOutput* outputAt(PointF global) const;

  // Reads and dispatches what the compositor sends from Qt's event loop on
  // this thread, and sends the requests made before the loop sleeps.
  void watch();
  // Dispatches what was read and sends the requests made.
  void flush();
  // Dispatches what the compositor sends until done() or the time is up.
  bool dispatchUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
  bool isLost() const { return lost_; }

 private:
  WaylandConnection(wl_display* display, Client* client);
  void readEvents();
  void lose();

  wl_display* display_;
  Client* client_;
  wl_registry* registry_ = nullptr;
  Globals globals_;
  std::vector<std::unique_ptr<WaylandOutput>> outputs_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool lost_ = false;

  friend struct ConnectionListeners;
};

}  // namespace velt
