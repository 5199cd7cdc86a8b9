#include "platform/x11/x11_properties.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace velt::x11 {
namespace {

// A text property of at most 1 KiB, up to its first NUL.
std::string textProperty(xcb_connection_t* c, uint32_t window, uint32_t property) {
  if (property == XCB_ATOM_NONE) return {};
  auto reply = getProperty(c, window, property, XCB_GET_PROPERTY_TYPE_ANY, 256);
  if (!reply || reply->format != 8) return {};
  std::string_view text(static_cast<const char*>(xcb_get_property_value(reply.get())),
                        static_cast<size_t>(xcb_get_property_value_length(reply.get())));
  return std::string(text.substr(0, text.find('\0')));
}

}  // namespace

Reply<xcb_get_property_reply_t> getProperty(xcb_connection_t* c, uint32_t window, uint32_t property,
                                            uint32_t type, uint32_t longLength) {
  auto cookie = xcb_get_property(c, 0, window, property, type, 0, longLength);
  return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(c, cookie, nullptr));
}

std::optional<uint32_t> cardinal(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4) {
    return std::nullopt;
  }
  uint32_t value;
  std::memcpy(&value, xcb_get_property_value(reply), sizeof value);
  return value;
}

uint32_t internAtom(xcb_connection_t* c, const char* name) {
  auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
  Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
  return reply ? reply->atom : static_cast<uint32_t>(XCB_ATOM_NONE);
}

std::optional<WindowClass> activeWindowClass(xcb_connection_t* c, uint32_t root,
                                             const AtomOf& atom) {
  auto active =
      cardinal(getProperty(c, root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1).get());
  if (!active || *active == XCB_WINDOW_NONE) return std::nullopt;
  return windowClassOf(c, *active, atom);
}

std::vector<WindowClass> clientWindowClasses(xcb_connection_t* c, uint32_t root,
                                             const AtomOf& atom) {
  std::vector<WindowClass> out;
  auto clients = getProperty(c, root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 4096);
  if (!clients || clients->format != 32) return out;
  std::vector<uint32_t> windows(static_cast<size_t>(xcb_get_property_value_length(clients.get())) /
                                sizeof(uint32_t));
  std::memcpy(windows.data(), xcb_get_property_value(clients.get()),
              windows.size() * sizeof(uint32_t));
  const uint32_t skipTaskbar = atom("_NET_WM_STATE_SKIP_TASKBAR");
  for (uint32_t window : windows) {
    auto state = getProperty(c, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 64);
    if (state && state->format == 32) {
      const auto* atoms = static_cast<const uint32_t*>(xcb_get_property_value(state.get()));
      const int count = xcb_get_property_value_length(state.get()) / 4;
      if (std::find(atoms, atoms + count, skipTaskbar) != atoms + count) continue;
    }
    if (auto windowClass = windowClassOf(c, window, atom)) out.push_back(std::move(*windowClass));
  }
  return out;
}

std::optional<WindowClass> windowClassOf(xcb_connection_t* c, uint32_t window, const AtomOf& atom) {
  auto reply = getProperty(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
  if (!reply || reply->format != 8) return std::nullopt;
  // Two strings, each ending in a NUL (the last NUL may be missing).
  const char* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
  const size_t length = static_cast<size_t>(xcb_get_property_value_length(reply.get()));
  std::string_view text(data, length);
  size_t end = text.find('\0');
  WindowClass result;
  result.instance = std::string(text.substr(0, end));
  if (end != std::string_view::npos) {
    std::string_view rest = text.substr(end + 1);
    result.className = std::string(rest.substr(0, rest.find('\0')));
  }
  result.application = textProperty(c, window, atom("_GTK_APPLICATION_ID"));
  if (result.application.empty()) {
    result.application = textProperty(c, window, atom("_KDE_NET_WM_DESKTOP_FILE"));
  }
  return result;
}

}  // namespace velt::x11
