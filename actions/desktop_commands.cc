#include "actions/desktop_commands.h"

#include <exception>
#include <filesystem>
#include <utility>

#include "core/log.h"

namespace velt {
namespace {

using Need = DesktopRequirement::Kind;
using Kind = DesktopCall::Kind;

DesktopRoute route(Need need, std::string name, DesktopCall call) {
  return {{need, std::move(name)}, std::move(call)};
}

DesktopCall dbusMethod(std::string service, std::string path, std::string interface,
                       std::string method, std::vector<std::string> arguments = {}) {
  return {Kind::DBusMethod,     std::move(service), std::move(path),
          std::move(interface), std::move(method),  std::move(arguments)};
}

DesktopCall simpleCall(Kind kind, std::vector<std::string> arguments = {}) {
  return {kind, {}, {}, {}, {}, std::move(arguments)};
}

// A method of the agent's own GNOME Shell extension.
DesktopRoute shellExtension(const char* method) {
  std::string name(kShellExtensionName);
  return route(Need::Service, name,
               dbusMethod(name, std::string(kShellExtensionPath), name, method));
}

// A KWin global shortcut, invoked by its name.
DesktopRoute kwinShortcut(const char* name) {
  // KWin itself must run: the bus can start a kglobalaccel of its own
  // elsewhere, which knows none of KWin's shortcuts.
  return route(Need::Service, "org.kde.KWin",
               dbusMethod("org.kde.kglobalaccel", "/component/kwin",
                          "org.kde.kglobalaccel.Component", "invokeShortcut", {name}));
}

constexpr const char* kGnomeShell = "org.gnome.Shell";

// GNOME Shell's own overview switch, for a shell without the extension; it
// ignores a change while it is still starting up.
DesktopRoute gnomeOverview() {
  return route(
      Need::Service, kGnomeShell,
      {Kind::ToggleProperty, kGnomeShell, "/org/gnome/Shell", kGnomeShell, {}, {"OverviewActive"}});
}

}  // namespace

std::string_view desktopFunctionName(DesktopFunction function) {
  switch (function) {
    case DesktopFunction::WindowOverview:
      return "window overview";
    case DesktopFunction::ShowDesktop:
      return "show desktop";
    case DesktopFunction::ApplicationWindows:
      return "application windows";
    case DesktopFunction::Dashboard:
      return "Dashboard";
    case DesktopFunction::ApplicationGrid:
      return "application grid";
    case DesktopFunction::FileManager:
      return "file manager";
    case DesktopFunction::Screenshot:
      return "screenshot";
  }
  return "desktop function";
}

std::string DesktopCall::describe() const {
  // Built by appending: it reads the same and keeps clear of a false
  // -Wrestrict warning that GCC 12 gives for string concatenation at -O2.
  std::string out;
  auto addAll = [&out](const std::vector<std::string>& parts, std::string_view separator) {
    for (size_t i = 0; i < parts.size(); ++i) out.append(i ? separator : "").append(parts[i]);
  };
  switch (kind) {
    case Kind::ToggleShowingDesktop:
      return "_NET_SHOWING_DESKTOP";
    case Kind::ToggleProperty:
      out.append("toggle ").append(service).append(" ").append(path).append(" ");
      out.append(interface).append(".").append(arguments.empty() ? "" : arguments.front());
      return out;
    case Kind::DBusMethod:
      out.append("dbus ").append(service).append(" ").append(path).append(" ");
      out.append(interface).append(".").append(method).append("(");
      addAll(arguments, ", ");
      out.append(")");
      return out;
    case Kind::OpenFolder:
      out.append("open folder ");
      addAll(arguments, " ");
      return out;
    case Kind::ScreenshotPortal:
      return "screenshot portal";
    case Kind::StartProgram:
      out.append("program ");
      addAll(arguments, " ");
      return out;
    case Kind::ScreenshotProgram:
      out.append("screenshot by ");
      addAll(arguments, " ");
      return out;
    case Kind::GrabScreen:
      return "X11 screen grab";
    case Kind::CaptureKWin:
      return "KWin screen picture";
  }
  return "?";
}

std::string DesktopRequirement::describe() const {
  switch (kind) {
    case Kind::None:
      return "nothing";
    case Kind::Service:
      return name + " on the session bus";
    case Kind::ShowingDesktopHint:
      return "_NET_SHOWING_DESKTOP";
    case Kind::Program:
      return "the program " + name;
    case Kind::X11Screen:
      return "an X11 screen";
  }
  return "?";
}

std::vector<DesktopRoute> desktopRoutes(DesktopFunction function, const std::string& folder) {
  switch (function) {
    case DesktopFunction::WindowOverview:
      return {shellExtension("ToggleOverview"), gnomeOverview(), kwinShortcut("Expose")};
    case DesktopFunction::ShowDesktop:
      // KWin's own showDesktop method lasts only while its caller stays on
      // the bus; its shortcut stays until it is pressed again.
      return {shellExtension("ToggleShowDesktop"), kwinShortcut("Show Desktop"),
              route(Need::ShowingDesktopHint, {}, simpleCall(Kind::ToggleShowingDesktop))};
    case DesktopFunction::ApplicationWindows:
      // GNOME Shell has no view of one application's windows: its overview
      // shows them among the others.
      return {kwinShortcut("ExposeClass"), shellExtension("ToggleOverview"), gnomeOverview()};
    case DesktopFunction::Dashboard:
      return {};
    case DesktopFunction::ApplicationGrid:
      // GNOME Shell 41 and later refuse ShowApplications to other programs.
      return {shellExtension("ToggleApplicationGrid"),
              route(Need::Service, kGnomeShell,
                    dbusMethod(kGnomeShell, "/org/gnome/Shell", kGnomeShell, "ShowApplications")),
              route(Need::Service, "org.kde.plasmashell",
                    dbusMethod("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell",
                               "activateLauncherMenu"))};
    case DesktopFunction::FileManager:
      return {route(Need::None, {}, simpleCall(Kind::OpenFolder, {folder}))};
    case DesktopFunction::Screenshot:
      return {shellExtension("OpenScreenshotTool"),
              route(Need::Service, "org.freedesktop.portal.Desktop",
                    simpleCall(Kind::ScreenshotPortal)),
              route(Need::Program, "spectacle", simpleCall(Kind::StartProgram, {"spectacle"})),
              route(Need::Program, "gnome-screenshot",
                    simpleCall(Kind::StartProgram, {"gnome-screenshot", "--interactive"})),
              // wlroots compositors; grim fails at once on the others.
              route(Need::Program, "grim", simpleCall(Kind::ScreenshotProgram, {"grim"})),
              // KWin without Plasma's portal or Spectacle.
              route(Need::Service, "org.kde.KWin", simpleCall(Kind::CaptureKWin)),
              route(Need::X11Screen, {}, simpleCall(Kind::GrabScreen))};
  }
  return {};
}

struct DesktopCommands::Attempt {
  DesktopFunction function;
  std::vector<DesktopRoute> routes;
  Finished finished;
  bool started = false;

  void finish(const std::string& route) {
    if (finished) std::exchange(finished, nullptr)(route);
  }
};

DesktopCommands::DesktopCommands(DesktopSession& session, MainThread& mainThread)
    : session_(session), mainThread_(mainThread), alive_(std::make_shared<bool>()) {}

DesktopCommands::~DesktopCommands() = default;

void DesktopCommands::run(DesktopFunction function, Finished finished) {
  std::string folder;
  if (function == DesktopFunction::FileManager) {
    std::error_code ec;
    auto here = std::filesystem::current_path(ec);
    folder = ec ? std::filesystem::path("/").string() : here.string();
  }
  auto attempt = std::make_shared<Attempt>(
      Attempt{function, desktopRoutes(function, folder), std::move(finished)});
  std::weak_ptr<bool> alive = alive_;
  mainThread_.post([this, alive, attempt] {
    if (!alive.lock()) return;
    // What the desktop offers is learnt without waiting for it.
    session_.refresh([this, alive, attempt] {
      if (alive.lock()) tryFrom(attempt, 0);
    });
  });
}

void DesktopCommands::tryFrom(std::shared_ptr<Attempt> attempt, size_t index) {
  for (size_t i = index; i < attempt->routes.size(); ++i) {
    const DesktopRoute& route = attempt->routes[i];
    try {
      if (!offered(route.requirement)) continue;
      attempt->started = true;
      std::weak_ptr<bool> alive = alive_;
      session_.start(route.call, [this, alive, attempt, i](std::string failure) {
        if (!alive.lock()) return;
        if (failure.empty()) {
          attempt->finish(attempt->routes[i].call.describe());
        } else {
          routeFailed(attempt, i, failure);
        }
      });
    } catch (const std::exception& e) {
      routeFailed(attempt, i, e.what());
    } catch (...) {
      routeFailed(attempt, i, "unknown error");
    }
    return;
  }
  if (!attempt->started) {
    notOffered(*attempt);
  } else {
    std::string name(desktopFunctionName(attempt->function));
    if (firstTime(name + "|failed")) {
      logFormat("%s: every way failed on %s; nothing done", name.c_str(),
                session_.desktopName().c_str());
    }
  }
  attempt->finish({});
}

void DesktopCommands::notOffered(const Attempt& attempt) {
  std::string name(desktopFunctionName(attempt.function));
  if (!firstTime(name)) return;
  std::string missing;
  for (const DesktopRoute& route : attempt.routes) {
    missing.append(missing.empty() ? "" : ", ").append(route.requirement.describe());
  }
  const std::string desktop = session_.desktopName();
  if (missing.empty()) {
    logFormat("%s: not offered on %s; nothing done", name.c_str(), desktop.c_str());
  } else {
    logFormat("%s: not offered on %s (none of: %s); nothing done", name.c_str(), desktop.c_str(),
              missing.c_str());
  }
}

void DesktopCommands::routeFailed(std::shared_ptr<Attempt> attempt, size_t index,
                                  const std::string& failure) {
  std::string name(desktopFunctionName(attempt->function));
  std::string call = attempt->routes[index].call.describe();
  if (firstTime(name + "|" + call)) {
    logFormat("%s: %s failed: %s", name.c_str(), call.c_str(), failure.c_str());
  }
  tryFrom(std::move(attempt), index + 1);
}

bool DesktopCommands::offered(const DesktopRequirement& requirement) {
  switch (requirement.kind) {
    case DesktopRequirement::Kind::None:
      return true;
    case DesktopRequirement::Kind::Service:
      return session_.hasService(requirement.name);
    case DesktopRequirement::Kind::ShowingDesktopHint:
      return session_.supportsShowingDesktop();
    case DesktopRequirement::Kind::Program:
      return session_.hasProgram(requirement.name);
    case DesktopRequirement::Kind::X11Screen:
      return session_.hasX11Screen();
  }
  return false;
}

bool DesktopCommands::firstTime(std::string key) {
  std::lock_guard lock(loggedMutex_);
  return logged_.insert(std::move(key)).second;
}

std::string_view shellExtensionUuid(std::string_view shellVersion) {
  int major = 0;
  for (char c : shellVersion) {
    if (c < '0' || c > '9' || major > 1000) break;
    major = major * 10 + (c - '0');
  }
  return major >= 45 ? kShellExtensionModuleUuid : kShellExtensionUuid;
}

}  // namespace velt
