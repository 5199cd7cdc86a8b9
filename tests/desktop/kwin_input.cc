#include "tests/desktop/kwin_input.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "fake-input-client-protocol.h"

namespace velt {

int kwinInput() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::printf("error: no Wayland display\n");
    return 1;
  }
  org_kde_kwin_fake_input* input = nullptr;
  static constexpr wl_registry_listener listener{
      [](void* data, wl_registry* registry, uint32_t name, const char* interface,
         uint32_t version) {
        if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3) {
          *static_cast<org_kde_kwin_fake_input**>(data) = static_cast<org_kde_kwin_fake_input*>(
              wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3));
        }
      },
      [](void*, wl_registry*, uint32_t) {}};
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &listener, &input);
  wl_display_roundtrip(display);
  if (!input) {
    std::printf("error: KWin offers no org_kde_kwin_fake_input (version 3) to this program\n");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(input, "velt-desktop-probe", "desktop tests");
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "move") {
      double x = 0, y = 0;
      words >> x >> y;
      org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_double(x),
                                                      wl_fixed_from_double(y));
    } else if (command == "click") {
      org_kde_kwin_fake_input_button(input, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
      org_kde_kwin_fake_input_button(input, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
    } else {
      std::printf("error: unknown command %s\n", command.c_str());
      std::fflush(stdout);
      continue;
    }
    const bool ok = wl_display_roundtrip(display) >= 0;
    std::printf(ok ? "ok\n" : "error: KWin closed the connection\n");
    std::fflush(stdout);
    if (!ok) return 1;
  }
  org_kde_kwin_fake_input_destroy(input);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return 0;
}

}  // namespace velt
