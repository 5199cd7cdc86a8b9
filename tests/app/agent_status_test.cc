#include "app/agent_status.h"

#include <gtest/gtest.h>

#include "testing/fixed_device_directory.h"
#include "ui/agent_commands.h"

namespace velt {
namespace {

struct FocusedWindow : ActiveWindowQuery {
  std::optional<WindowClass> focused;
  std::optional<WindowClass> activeWindowClass() override { return focused; }
};

std::string shown(DeviceDirectory& devices, ActiveWindowQuery& windows,
                  const Profiles& profiles = Profiles(),
                  const std::vector<std::string>& open = {}) {
  const std::string answer = statusAnswer(devices, windows, profiles, open);
  EXPECT_TRUE(answer.starts_with(kAnswerStatus)) << answer;
  EXPECT_EQ(answer.find('\n'), std::string::npos) << "one line on the socket";
  return statusText(std::string_view(answer).substr(kAnswerStatus.size())).value_or("unreadable");
}

TEST(AgentStatus, ListsTheMiceAndTheFocusWhateverTheirNamesHold) {
  DeviceRecord first;
  first.type = 1;
  first.usbVid = 0x1d57;
  first.usbPid = 0xfa61;
  first.name = "QR-450";
  DeviceRecord second = first;
  second.name = "QR-350\nfocus: forged";  // a name never ends a line
  second.usbPid = 0x0b;
  FixedDeviceDirectory devices({first, second});
  FocusedWindow windows;
  EXPECT_EQ(shown(devices, windows),
            "mouse: QR-450 (1d57:fa61), shown in the window\n"
            "mouse: QR-350\\nfocus: forged (1d57:000b)\nfocus: unknown\n"
            "application: unknown\nprofile: All applications\nopen: none\n");

  // A window class is another program's bytes, UTF-8 or not.
  windows.focused = WindowClass{"term", "Term\xff"};
  FixedDeviceDirectory none;
  Profiles profiles;
  profiles.setList({ApplicationProfile{"org.gnome.TextEditor", {}}});
  profiles.setFocusedApplication("org.gnome.TextEditor");
  EXPECT_EQ(shown(none, windows, profiles, {"org.gnome.TextEditor", "XTerm"}),
            "mouse: none found\nfocus: Term\xef\xbf\xbd\napplication: org.gnome.TextEditor\n"
            "profile: org.gnome.TextEditor\nopen: org.gnome.TextEditor, XTerm\n");

  for (const char* bad : {"", "[]", "{\"mice\": 3}", "{\"mice\": [1]}", "{\"mice\": [", "\"x\""}) {
    EXPECT_FALSE(statusText(bad)) << bad;
  }
}

}  // namespace
}  // namespace velt
