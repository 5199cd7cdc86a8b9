#include "platform/x11/x11_focus_watch.h"

#include <xcb/xcb.h>

#include <QSocketNotifier>
#include <cstdlib>

#include "core/log.h"
#include "platform/x11/x11_properties.h"

namespace velt {

X11FocusWatch::X11FocusWatch(std::string display) : display_(std::move(display)) {}

X11FocusWatch::~X11FocusWatch() {
  notifier_.reset();
  if (connection_) xcb_disconnect(connection_);
}

uint32_t X11FocusWatch::atom(const char* name) {
  if (auto known = atoms_.find(name); known != atoms_.end()) return known->second;
  const uint32_t interned = x11::internAtom(connection_, name);
  if (interned != XCB_ATOM_NONE) atoms_.emplace(name, interned);
  return interned;
}

bool X11FocusWatch::connect() {
  if (connection_) return true;
  if (failed_) return false;
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screenNumber);
  xcb_screen_iterator_t screens{};
  if (!xcb_connection_has_error(c)) {
    screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  }
  if (xcb_connection_has_error(c) || !screens.rem) {
    xcb_disconnect(c);
    failed_ = true;
    logFormat("X11: no display; the focused window is not followed");
    return false;
  }
  connection_ = c;
  root_ = screens.data->root;
  activeAtom_ = atom("_NET_ACTIVE_WINDOW");
  // Property changes on the root: other clients may listen too, each with
  // its own mask.
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
  notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
  return true;
}

void X11FocusWatch::watch(FocusSource::Handler handler) {
  if (handler) connect();
  notices_.setHandler(std::move(handler), [this]() -> std::optional<WindowClass> {
    if (!connection_) return std::nullopt;
    return x11::activeWindowClass(connection_, root_,
                                  [this](const char* name) { return atom(name); });
  });
}

void X11FocusWatch::readEvents() {
  bool changed = false;
  // Asking for the window's class below may queue further events; the loop
  // takes them too, so none waits behind a descriptor that reads empty.
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
        auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        changed |= notify->window == root_ && notify->atom == activeAtom_;
      }
      std::free(event);
    }
    if (!changed || xcb_connection_has_error(connection_)) break;
    changed = false;
    notices_.tell(x11::activeWindowClass(connection_, root_,
                                         [this](const char* name) { return atom(name); }));
  }
  if (xcb_connection_has_error(connection_)) {
    logFormat("X11: lost the display; the focused window is no longer followed");
    notifier_.reset();
    xcb_disconnect(connection_);
    connection_ = nullptr;
    failed_ = true;
  }
}

}  // namespace velt
