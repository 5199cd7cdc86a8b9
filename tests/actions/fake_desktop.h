// Fakes for the desktop the action engine talks to.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "actions/desktop_commands.h"
#include "actions/synthetic_input.h"

namespace velt::testing {

// A desktop session that offers what the test says and records every call
// started. Calls succeed unless their description is listed in failing.
class FakeDesktopSession : public DesktopSession {
 public:
  bool hasService(std::string_view busName) override {
    return services.count(std::string(busName)) > 0;
  }
  bool supportsShowingDesktop() override { return showingDesktopHint; }
  bool hasProgram(std::string_view program) override {
    return programs.count(std::string(program)) > 0;
  }
  void start(const DesktopCall& call, Done done) override {
    started.push_back(call.describe());
    auto failure = failing.find(call.describe());
    done(failure == failing.end() ? std::string() : failure->second);
  }

  static FakeDesktopSession gnome() {
    FakeDesktopSession s;
    s.services = {"org.gnome.Shell", "org.freedesktop.portal.Desktop"};
    s.showingDesktopHint = true;
    s.programs = {"gnome-screenshot"};
    return s;
  }
  static FakeDesktopSession kde() {
    FakeDesktopSession s;
    s.services = {"org.kde.KWin", "org.kde.kglobalaccel", "org.kde.plasmashell",
                  "org.freedesktop.portal.Desktop"};
    s.showingDesktopHint = true;
    s.programs = {"spectacle"};
    return s;
  }

  std::set<std::string> services;
  std::set<std::string> programs;
  bool showingDesktopHint = false;
  std::map<std::string, std::string> failing;  // description → reason
  std::vector<std::string> started;
};

class FakeWindows : public ActiveWindowQuery {
 public:
  std::optional<WindowClass> activeWindowClass() override { return active; }
  std::optional<WindowClass> active;
};

}  // namespace velt::testing
