#include "platform/x11/x11_pointer_watch.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <QSocketNotifier>
#include <cstdlib>

#include "core/log.h"

namespace velt {

X11PointerWatch::X11PointerWatch(std::function<void()> moved, std::string display)
    : moved_(std::move(moved)), display_(std::move(display)) {}

X11PointerWatch::~X11PointerWatch() {
  notifier_.reset();
  if (connection_) xcb_disconnect(connection_);
}

bool X11PointerWatch::connect() {
  if (connection_) return true;
  if (failed_) return false;
  auto fail = [this](const char* why) {
    failed_ = true;
    logFormat("overlay: the pointer is followed only on the mice the agent takes over (%s)", why);
    return false;
  };
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screenNumber);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return fail("no X11 display");
  }
  const xcb_query_extension_reply_t* input = xcb_get_extension_data(c, &xcb_input_id);
  xcb_input_xi_query_version_reply_t* version = nullptr;
  if (input && input->present) {
    version = xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
  }
  const bool usable = version && version->major_version >= 2;
  std::free(version);
  if (!usable) {
    xcb_disconnect(c);
    return fail("the X server has no XInput 2");
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    xcb_disconnect(c);
    return fail("the display has no screen");
  }
  connection_ = c;
  root_ = screens.data->root;
  inputOpcode_ = input->major_opcode;
  notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
  return true;
}

void X11PointerWatch::select(bool on) {
  struct {
    xcb_input_event_mask_t head;
    uint32_t mask;
  } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, on ? uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_MOTION} : 0};
  xcb_input_xi_select_events(connection_, root_, 1, &mask.head);
  xcb_flush(connection_);
}

void X11PointerWatch::setWatching(bool on) {
  if (on == watching_) return;
  if (on && !connect()) return;
  watching_ = on;
  if (connection_) select(on);
}

void X11PointerWatch::readEvents() {
  bool moved = false;
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
      auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
      moved |= generic->extension == inputOpcode_ && generic->event_type == XCB_INPUT_RAW_MOTION;
    }
    std::free(event);
  }
  if (xcb_connection_has_error(connection_)) {
    logFormat("overlay: lost the X11 display; the pointer is followed only on the taken-over mice");
    notifier_.reset();
    xcb_disconnect(connection_);
    connection_ = nullptr;
    failed_ = true;
    watching_ = false;
    return;
  }
  if (moved && watching_ && moved_) moved_();
}

}  // namespace velt
