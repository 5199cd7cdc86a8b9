#include "platform/x11/x11_session.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/log.h"
#include "platform/x11/x11_focus_watch.h"
#include "platform/x11/x11_properties.h"

namespace velt {

using x11::cardinal;
using x11::getProperty;
using x11::Reply;

X11Session::X11Session(Clock& clock, std::string display, Clock::Duration retryInterval)
    : clock_(clock), display_(std::move(display)), retryInterval_(retryInterval) {}

X11Session::~X11Session() {
  std::lock_guard lock(mutex_);
  disconnect();
}

bool X11Session::connect() {
  if (connection_ && !xcb_connection_has_error(connection_)) return true;
  const bool lost = connection_ != nullptr;
  disconnect();
  const auto now = clock_.now();
  if (attempted_ && now < nextAttempt_ && !lost) return false;
  attempted_ = true;
  nextAttempt_ = now + retryInterval_;

  int screenNumber = 0;
  const char* name = display_.empty() ? nullptr : display_.c_str();
  xcb_connection_t* c = xcb_connect(name, &screenNumber);
  std::string shown = name ? name : (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
  if (int error = xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    std::string failure =
        "cannot connect to display \"" + shown + "\" (xcb error " + std::to_string(error) + ")";
    if (failure != lastFailure_) {
      logFormat("X11: %s; the active window and the pointer position are unknown until then",
                failure.c_str());
      lastFailure_ = failure;
    }
    return false;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    xcb_disconnect(c);
    logFormat("X11: display \"%s\" has no screen %d", shown.c_str(), screenNumber);
    return false;
  }
  connection_ = c;
  root_ = screens.data->root;
  if (!lastFailure_.empty()) logFormat("X11: connected to display \"%s\"", shown.c_str());
  lastFailure_.clear();
  return true;
}

void X11Session::disconnect() {
  if (connection_) xcb_disconnect(connection_);
  connection_ = nullptr;
  root_ = 0;
  atoms_.clear();
}

uint32_t X11Session::atom(const char* name) {
  if (auto known = atoms_.find(name); known != atoms_.end()) return known->second;
  const uint32_t interned = x11::internAtom(connection_, name);
  if (interned != XCB_ATOM_NONE) atoms_.emplace(name, interned);
  return interned;
}

std::optional<WindowClass> X11Session::activeWindowClass() {
  std::lock_guard lock(mutex_);
  if (!connect()) return std::nullopt;
  return x11::activeWindowClass(connection_, root_,
                                [this](const char* name) { return atom(name); });
}

std::vector<WindowClass> X11Session::openWindows() {
  std::lock_guard lock(mutex_);
  if (!connect()) return {};
  return x11::clientWindowClasses(connection_, root_,
                                  [this](const char* name) { return atom(name); });
}

void X11Session::watchActiveWindow(Handler handler) {
  if (!focusWatch_) focusWatch_ = std::make_unique<X11FocusWatch>(display_);
  focusWatch_->watch(std::move(handler));
}

std::optional<PointF> X11Session::pointerPosition() {
  std::lock_guard lock(mutex_);
  if (!connect()) return std::nullopt;
  Reply<xcb_query_pointer_reply_t> reply(
      xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
  if (!reply) return std::nullopt;
  return PointF{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
}

bool X11Session::supportsShowingDesktop() {
  std::lock_guard lock(mutex_);
  if (!connect()) return false;
  const uint32_t wanted = atom("_NET_SHOWING_DESKTOP");
  auto reply = getProperty(connection_, root_, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM, 4096);
  if (!reply || reply->format != 32) return false;
  const auto* atoms = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  for (int i = 0; i < count; ++i) {
    if (atoms[i] == wanted) return true;
  }
  return false;
}

bool X11Session::toggleShowingDesktop(std::string& reason) {
  std::lock_guard lock(mutex_);
  if (!connect()) {
    reason = "no X11 display";
    return false;
  }
  const uint32_t showing = atom("_NET_SHOWING_DESKTOP");
  auto current = cardinal(getProperty(connection_, root_, showing, XCB_ATOM_CARDINAL, 1).get());
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = root_;
  message.type = showing;
  message.data.data32[0] = current.value_or(0) ? 0 : 1;
  xcb_send_event(connection_, 0, root_,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection_);
  return true;
}

X11Session::ScreenPicture X11Session::grabScreen(std::string& reason) {
  std::lock_guard lock(mutex_);
  if (!connect()) {
    reason = "no X11 display";
    return {};
  }
  Reply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root_), nullptr));
  if (!geometry) {
    reason = "the root window has no size";
    return {};
  }
  Reply<xcb_get_image_reply_t> image(
      xcb_get_image_reply(connection_,
                          xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, 0, 0,
                                        geometry->width, geometry->height, ~0u),
                          nullptr));
  const size_t size = size_t{geometry->width} * geometry->height * 4;
  if (!image || (image->depth != 24 && image->depth != 32) ||
      static_cast<size_t>(xcb_get_image_data_length(image.get())) != size) {
    reason = "the X server gave no picture of the screen";
    return {};
  }
  const uint8_t* data = xcb_get_image_data(image.get());
  return {geometry->width, geometry->height, std::vector<uint8_t>(data, data + size)};
}

}  // namespace velt
