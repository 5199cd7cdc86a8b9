// Key characters from the keyboard layout in use: the X server's keymap when
// there is an X display, otherwise the default keymap (XKB_DEFAULT_* and the
// system's xkb rules).
#pragma once

#include <memory>
#include <string>

#include "actions/shortcut_text.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace velt {

class XkbKeyLayout : public KeyLayout {
 public:
  // The current layout as described above.
  static std::unique_ptr<XkbKeyLayout> current();
  // A layout from rule names, e.g. layout "fr"; nullptr when xkb cannot make
  // it.
  static std::unique_ptr<XkbKeyLayout> fromNames(const std::string& layout,
                                                 const std::string& variant = "");
  ~XkbKeyLayout() override;

  std::string keyCharacter(int32_t virtualKeyCode) override;

 private:
  XkbKeyLayout(xkb_context* context, xkb_keymap* keymap);
  xkb_context* context_;
  xkb_keymap* keymap_;
  xkb_state* state_;
};

}  // namespace velt
