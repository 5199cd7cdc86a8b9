#include "platform/xkb_key_layout.h"

#include <linux/input-event-codes.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QString>
#include <array>
#include <cstdlib>
#include <utility>

#include "core/log.h"

namespace velt {
namespace {

// macOS virtual key code -> evdev code, for the keys a shortcut can use.
constexpr std::array<std::pair<int, int>, 91> kKeyCodes = {{
    {0, KEY_A},          {1, KEY_S},           {2, KEY_D},           {3, KEY_F},
    {4, KEY_H},          {5, KEY_G},           {6, KEY_Z},           {7, KEY_X},
    {8, KEY_C},          {9, KEY_V},           {11, KEY_B},          {12, KEY_Q},
    {13, KEY_W},         {14, KEY_E},          {15, KEY_R},          {16, KEY_Y},
    {17, KEY_T},         {18, KEY_1},          {19, KEY_2},          {20, KEY_3},
    {21, KEY_4},         {22, KEY_6},          {23, KEY_5},          {24, KEY_EQUAL},
    {25, KEY_9},         {26, KEY_7},          {27, KEY_MINUS},      {28, KEY_8},
    {29, KEY_0},         {30, KEY_RIGHTBRACE}, {31, KEY_O},          {32, KEY_U},
    {33, KEY_LEFTBRACE}, {34, KEY_I},          {35, KEY_P},          {36, KEY_ENTER},
    {37, KEY_L},         {38, KEY_J},          {39, KEY_APOSTROPHE}, {40, KEY_K},
    {41, KEY_SEMICOLON}, {42, KEY_BACKSLASH},  {43, KEY_COMMA},      {44, KEY_SLASH},
    {45, KEY_N},         {46, KEY_M},          {47, KEY_DOT},        {48, KEY_TAB},
    {49, KEY_SPACE},     {50, KEY_GRAVE},      {51, KEY_BACKSPACE},  {53, KEY_ESC},
    {57, KEY_CAPSLOCK},  {65, KEY_KPDOT},      {67, KEY_KPASTERISK}, {69, KEY_KPPLUS},
    {75, KEY_KPSLASH},   {76, KEY_KPENTER},    {78, KEY_KPMINUS},    {81, KEY_KPEQUAL},
    {82, KEY_KP0},       {83, KEY_KP1},        {84, KEY_KP2},        {85, KEY_KP3},
    {86, KEY_KP4},       {87, KEY_KP5},        {88, KEY_KP6},        {89, KEY_KP7},
    {91, KEY_KP8},       {92, KEY_KP9},        {96, KEY_F5},         {97, KEY_F6},
    {98, KEY_F7},        {99, KEY_F3},         {100, KEY_F8},        {101, KEY_F9},
    {103, KEY_F11},      {109, KEY_F10},       {111, KEY_F12},       {115, KEY_HOME},
    {116, KEY_PAGEUP},   {117, KEY_DELETE},    {118, KEY_F4},        {119, KEY_END},
    {120, KEY_F2},       {121, KEY_PAGEDOWN},  {122, KEY_F1},        {123, KEY_LEFT},
    {124, KEY_RIGHT},    {125, KEY_DOWN},      {126, KEY_UP},
}};

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

int evdevKeyOf(int32_t virtualKeyCode) {
  for (const auto& [mac, evdev] : kKeyCodes) {
    if (mac == virtualKeyCode) return evdev;
  }
  return 0;
}

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
  int evdev = evdevKeyOf(virtualKeyCode);
  if (evdev == 0 || !state_) return "";
  char text[64] = {};
  int length = xkb_state_key_get_utf8(state_, static_cast<xkb_keycode_t>(evdev + kXkbOffset), text,
                                      sizeof text);
  if (length <= 0) return "";
  return QString::fromUtf8(text, length).toUpper().toStdString();
}

}  // namespace velt
