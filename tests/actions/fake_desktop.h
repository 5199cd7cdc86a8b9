// Fakes for the desktop the action engine talks to.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "actions/desktop_commands.h"
#include "actions/synthetic_input.h"

namespace velt::testing {

// How a call to a method of the agent's GNOME Shell extension is described,
// less the method.
inline const std::string kExtensionCall =
    "dbus quorin.driver.velt.Shell /quorin/driver/velt/Shell quorin.driver.velt.Shell.";

// A desktop session that offers what the test says and records every call
// started. Calls succeed unless their description is listed in failing.
class FakeDesktopSession : public DesktopSession {
 public:
  void refresh(std::function<void()> ready) override {
    if (deferRefresh) {
      pendingRefreshes.push_back(std::move(ready));
    } else {
      ready();
    }
  }
  bool hasService(std::string_view busName) override {
    return services.count(std::string(busName)) > 0;
  }
  bool supportsShowingDesktop() override { return showingDesktopHint; }
  bool hasProgram(std::string_view program) override {
    return programs.count(std::string(program)) > 0;
  }
  bool hasX11Screen() override { return x11Screen; }
  std::string desktopName() override { return name; }
  void start(const DesktopCall& call, Done done) override {
    started.push_back(call.describe());
    auto failure = failing.find(call.describe());
    done(failure == failing.end() ? std::string() : failure->second);
  }

  // GNOME Shell with the agent's extension.
  static FakeDesktopSession gnome() {
    FakeDesktopSession s;
    s.name = "GNOME";
    s.services = {"quorin.driver.velt.Shell", "org.gnome.Shell", "org.freedesktop.portal.Desktop"};
    s.programs = {"gnome-screenshot"};
    return s;
  }
  static FakeDesktopSession kde() {
    FakeDesktopSession s;
    s.name = "KDE";
    s.services = {"org.kde.KWin", "org.kde.kglobalaccel", "org.kde.plasmashell",
                  "org.freedesktop.portal.Desktop"};
    s.showingDesktopHint = true;
    s.programs = {"spectacle"};
    return s;
  }

  std::string name = "sway";
  std::set<std::string> services;
  std::set<std::string> programs;
  bool showingDesktopHint = false;
  bool x11Screen = false;
  std::map<std::string, std::string> failing;  // description → reason
  std::vector<std::string> started;
  // Refreshes wait in pendingRefreshes, as they wait for the bus's answer.
  bool deferRefresh = false;
  std::vector<std::function<void()>> pendingRefreshes;
};

class FakeWindows : public ActiveWindowQuery {
 public:
  std::optional<WindowClass> activeWindowClass() override { return active; }
  std::optional<WindowClass> active;
};

}  // namespace velt::testing
