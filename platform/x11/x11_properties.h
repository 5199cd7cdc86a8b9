// Reading window properties over xcb: what the session's queries and the
// focus watch share.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/synthetic_input.h"

namespace velt::x11 {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

Reply<xcb_get_property_reply_t> getProperty(xcb_connection_t* c, uint32_t window, uint32_t property,
                                            uint32_t type, uint32_t longLength);
// The first 32-bit value of a property, if it has one.
std::optional<uint32_t> cardinal(const xcb_get_property_reply_t* reply);

// XCB_ATOM_NONE when the server does not answer.
uint32_t internAtom(xcb_connection_t* c, const char* name);
// The atom of a name, from a cache of the connection's.
using AtomOf = std::function<uint32_t(const char*)>;

// The class of a window, with the desktop entry id that GTK
// (_GTK_APPLICATION_ID) or KDE (_KDE_NET_WM_DESKTOP_FILE) applications put on
// their windows; nullopt when it has no class.
std::optional<WindowClass> windowClassOf(xcb_connection_t* c, uint32_t window, const AtomOf& atom);

// As windowClassOf, the window that _NET_ACTIVE_WINDOW on root names;
// nullopt when no window is active or it has no class.
std::optional<WindowClass> activeWindowClass(xcb_connection_t* c, uint32_t root,
                                             const AtomOf& atom);
// As windowClassOf, each window in the window manager's _NET_CLIENT_LIST on root
// but those kept off the task bar (_NET_WM_STATE_SKIP_TASKBAR).
std::vector<WindowClass> clientWindowClasses(xcb_connection_t* c, uint32_t root,
                                             const AtomOf& atom);

}  // namespace velt::x11
