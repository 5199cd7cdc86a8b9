#include "platform/x11/x11_compositing.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velt {
namespace {

// The screen number of $DISPLAY (":0.1" is screen 1).
int displayScreen() {
  const char* display = std::getenv("DISPLAY");
  const char* dot = display ? std::strrchr(display, '.') : nullptr;
  const char* colon = display ? std::strrchr(display, ':') : nullptr;
  return dot && colon && dot > colon ? std::atoi(dot + 1) : 0;
}

}  // namespace

bool compositingManagerRunning() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11) return QGuiApplication::platformName() != QLatin1String("offscreen");
  xcb_connection_t* connection = x11->connection();
  std::string name = "_NET_WM_CM_S" + std::to_string(displayScreen());
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str()),
      nullptr);
  if (!atom) return false;
  bool owned = false;
  if (atom->atom != XCB_ATOM_NONE) {
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
  }
  free(atom);
  return owned;
}

}  // namespace velt
