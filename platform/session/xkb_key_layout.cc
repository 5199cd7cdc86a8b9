#include "platform/session/xkb_key_layout.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QString>
#include <cstdlib>

#include "actions/key_codes.h"
#include "core/log.h"

namespace velt {
namespace {

// evdev codes are offset by 8 in X and xkb key codes.
constexpr int kXkbOffset = 8;

xkb_keymap* keymapFromX(xkb_context* context) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  xkb_keymap* keymap = nullptr;
  if (!xcb_connection_has_error(connection) &&
      xkb_x11_setup_xkb_extension(
          connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
    int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device >= 0) {
      keymap =
          xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
  }
  xcb_disconnect(connection);
  return keymap;
}

}  // namespace

XkbKeyLayout::XkbKeyLayout(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap), state_(xkb_state_new(keymap)) {
  // The keypad types its digits, as it does on the layout the key codes
  // come from.
  xkb_mod_index_t numLock = xkb_keymap_mod_get_index(keymap_, XKB_MOD_NAME_NUM);
  if (state_ && numLock != XKB_MOD_INVALID) {
    xkb_state_update_mask(state_, 0, 0, 1u << numLock, 0, 0, 0);
  }
}

XkbKeyLayout::~XkbKeyLayout() {
  if (state_) xkb_state_unref(state_);
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

std::unique_ptr<XkbKeyLayout> XkbKeyLayout::current() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (!context) {
    logLine("keyboard layout: no xkb context, keeping the English key names");
    return nullptr;
  }
  xkb_keymap* keymap = keymapFromX(context);
  if (!keymap) keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!keymap) {
    logLine("keyboard layout: no keymap, keeping the English key names");
    xkb_context_unref(context);
    return nullptr;
  }
  return std::unique_ptr<XkbKeyLayout>(new XkbKeyLayout(context, keymap));
}

std::unique_ptr<XkbKeyLayout> XkbKeyLayout::fromNames(const std::string& layout,
                                                      const std::string& variant) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (!context) return nullptr;
  xkb_rule_names names = {};
  names.layout = layout.c_str();
  names.variant = variant.c_str();
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!keymap) {
    xkb_context_unref(context);
    return nullptr;
  }
  return std::unique_ptr<XkbKeyLayout>(new XkbKeyLayout(context, keymap));
}

std::string XkbKeyLayout::keyCharacter(int32_t virtualKeyCode) {
  std::optional<uint16_t> evdev = evdevKeyFor(virtualKeyCode);
  if (!evdev || !state_) return "";
  char text[64] = {};
  int length = xkb_state_key_get_utf8(state_, static_cast<xkb_keycode_t>(*evdev + kXkbOffset), text,
                                      sizeof text);
  if (length <= 0) return "";
  return QString::fromUtf8(text, length).toUpper().toStdString();
}

}  // namespace velt
