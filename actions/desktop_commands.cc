#include "actions/desktop_commands.h"

#include <exception>
#include <filesystem>

#include "actions/key_codes.h"
#include "core/log.h"

namespace velt {
namespace {

DesktopRoute route(DesktopRequirement::Kind need, std::string name, DesktopCall call) {
  return {{need, std::move(name)}, std::move(call)};
}

DesktopCall dbusMethod(std::string service, std::string path, std::string interface,
                       std::string method, std::vector<std::string> arguments = {}) {
  return {DesktopCall::Kind::DBusMethod,
          std::move(service),
          std::move(path),
          std::move(interface),
          std::move(method),
          std::move(arguments),
          {}};
}

DesktopCall simpleCall(DesktopCall::Kind kind, std::vector<std::string> arguments = {}) {
  return {kind, {}, {}, {}, {}, std::move(arguments), {}};
}

// A KWin global shortcut, invoked by its name.
DesktopRoute kwinShortcut(const char* name) {
  return route(DesktopRequirement::Kind::Service, "org.kde.KWin",
               dbusMethod("org.kde.kglobalaccel", "/component/kwin",
                          "org.kde.kglobalaccel.Component", "invokeShortcut", {name}));
}

constexpr const char* kGnomeShell = "org.gnome.Shell";

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
    case Kind::ToggleShellOverview:
      return "GNOME Shell overview";
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
    case Kind::KeyChord:
      out.append("keys");
      for (int32_t k : keys) out.append(" ").append(std::to_string(k));
      return out;
  }
  return "?";
}

std::vector<DesktopRoute> desktopRoutes(DesktopFunction function, const std::string& folder) {
  using Need = DesktopRequirement::Kind;
  using Kind = DesktopCall::Kind;
  switch (function) {
    case DesktopFunction::WindowOverview:
      return {route(Need::Service, kGnomeShell, simpleCall(Kind::ToggleShellOverview)),
              kwinShortcut("Expose")};
    case DesktopFunction::ShowDesktop:
      return {route(Need::ShowingDesktopHint, {}, simpleCall(Kind::ToggleShowingDesktop)),
              kwinShortcut("Show Desktop")};
    case DesktopFunction::ApplicationWindows:
      return {kwinShortcut("ExposeClass")};
    case DesktopFunction::Dashboard:
      return {};
    case DesktopFunction::ApplicationGrid: {
      // Newer GNOME Shells refuse ShowApplications to other programs; their
      // own key for the grid, Super+A, does the same.
      DesktopCall superA = simpleCall(Kind::KeyChord);
      superA.keys = {kVkCommand, 0};
      return {route(Need::Service, kGnomeShell,
                    dbusMethod(kGnomeShell, "/org/gnome/Shell", kGnomeShell, "ShowApplications")),
              route(Need::Service, kGnomeShell, std::move(superA)),
              route(Need::Service, "org.kde.plasmashell",
                    dbusMethod("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell",
                               "activateLauncherMenu"))};
    }
    case DesktopFunction::FileManager:
      return {route(Need::None, {}, simpleCall(Kind::OpenFolder, {folder}))};
    case DesktopFunction::Screenshot:
      return {route(Need::Service, "org.freedesktop.portal.Desktop",
                    simpleCall(Kind::ScreenshotPortal)),
              route(Need::Program, "spectacle", simpleCall(Kind::StartProgram, {"spectacle"})),
              route(Need::Program, "gnome-screenshot",
                    simpleCall(Kind::StartProgram, {"gnome-screenshot", "--interactive"}))};
  }
  return {};
}

struct DesktopCommands::Attempt {
  DesktopFunction function;
  std::vector<DesktopRoute> routes;
  bool started = false;
};

DesktopCommands::DesktopCommands(DesktopSession& session, MainThread& mainThread,
                                 SyntheticEvents& keys)
    : session_(session), mainThread_(mainThread), keys_(keys), alive_(std::make_shared<bool>()) {}

DesktopCommands::~DesktopCommands() = default;

void DesktopCommands::run(DesktopFunction function) {
  std::string folder;
  if (function == DesktopFunction::FileManager) {
    std::error_code ec;
    auto here = std::filesystem::current_path(ec);
    folder = ec ? std::filesystem::path("/").string() : here.string();
  }
  auto attempt = std::make_shared<Attempt>(Attempt{function, desktopRoutes(function, folder)});
  std::weak_ptr<bool> alive = alive_;
  mainThread_.post([this, alive, attempt] {
    if (alive.lock()) tryFrom(attempt, 0);
  });
}

void DesktopCommands::tryFrom(std::shared_ptr<Attempt> attempt, size_t index) {
  for (size_t i = index; i < attempt->routes.size(); ++i) {
    const DesktopRoute& route = attempt->routes[i];
    try {
      if (!offered(route.requirement)) continue;
      attempt->started = true;
      if (route.call.kind == DesktopCall::Kind::KeyChord) {
        for (int32_t k : route.call.keys) keys_.keyDown(k);
        for (auto k = route.call.keys.rbegin(); k != route.call.keys.rend(); ++k) keys_.keyUp(*k);
        return;
      }
      std::weak_ptr<bool> alive = alive_;
      session_.start(route.call, [this, alive, attempt, i](std::string failure) {
        if (!failure.empty() && alive.lock()) routeFailed(attempt, i, failure);
      });
    } catch (const std::exception& e) {
      routeFailed(attempt, i, e.what());
    } catch (...) {
      routeFailed(attempt, i, "unknown error");
    }
    return;
  }
  std::string name(desktopFunctionName(attempt->function));
  if (!attempt->started && firstTime(name)) {
    logFormat("%s: this desktop offers no way to do it; nothing done", name.c_str());
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
  }
  return false;
}

bool DesktopCommands::firstTime(std::string key) {
  std::lock_guard lock(loggedMutex_);
  return logged_.insert(std::move(key)).second;
}

}  // namespace velt
