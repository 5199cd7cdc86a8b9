// The button functions that start a part of the desktop instead of sending
// keys: the window overview, show desktop, the current application's windows,
// the application grid, the file manager and the screenshot tool. Each has an
// ordered list of routes (the agent's GNOME Shell extension, then the
// desktops' own D-Bus interfaces, freedesktop hints and programs); the first
// route the desktop offers is taken, and when it fails the next one is tried.
// No route is a synthesized key chord: those depend on the user's bindings
// and nothing can tell whether they did anything.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/main_thread.h"

namespace velt {

enum class DesktopFunction : uint8_t {
  WindowOverview,
  ShowDesktop,
  ApplicationWindows,
  Dashboard,
  ApplicationGrid,
  FileManager,
  Screenshot,
};

// A short English name for log lines ("window overview").
std::string_view desktopFunctionName(DesktopFunction function);

// One way of reaching a desktop function.
struct DesktopCall {
  enum class Kind : uint8_t {
    ToggleShowingDesktop,  // EWMH _NET_SHOWING_DESKTOP, flipped
    // The boolean property arguments[0] of service, path, interface, flipped.
    ToggleProperty,
    DBusMethod,        // service, path, interface, method (string arguments)
    OpenFolder,        // arguments[0], with the user's file manager
    ScreenshotPortal,  // the freedesktop screenshot portal, interactive
    StartProgram,      // arguments: program and its arguments, no shell
    // arguments: a program that writes a picture to the file named last;
    // the file is a new one in the user's Pictures folder.
    ScreenshotProgram,
    GrabScreen,  // the X11 screen, taken by the agent into Pictures
    // Every output, taken by the agent through KWin's ScreenShot2 (granted
    // by the agent's desktop entry) into Pictures.
    CaptureKWin,
  };
  Kind kind;
  std::string service;
  std::string path;
  std::string interface;
  std::string method;
  std::vector<std::string> arguments;

  // "dbus org.kde.KWin /component/kwin ....invokeShortcut(Expose)" and the like.
  std::string describe() const;
};

// What must be present for a route to be taken.
struct DesktopRequirement {
  enum class Kind : uint8_t { None, Service, ShowingDesktopHint, Program, X11Screen };
  Kind kind = Kind::None;
  std::string name;  // the bus name or the program

  // "org.gnome.Shell on the session bus" and the like, for log lines.
  std::string describe() const;
};

struct DesktopRoute {
  DesktopRequirement requirement;
  DesktopCall call;
};

// The agent's GNOME Shell extension (packaging/gnome-shell): it owns this
// name on the session bus once the shell has started, and opens the shell's
// views for the agent, which the shell refuses to outside programs.
inline constexpr std::string_view kShellExtensionName = "quorin.driver.velt.Shell";
inline constexpr std::string_view kShellExtensionPath = "/quorin/driver/velt/Shell";
// Its folder names under share/gnome-shell/extensions: for GNOME Shell 43
// and 44, and for 45 and later (an ES module).
inline constexpr std::string_view kShellExtensionUuid = "velt-mouse-assistant@quorin.driver.velt";
inline constexpr std::string_view kShellExtensionModuleUuid =
    "velt-mouse-assistant-45@quorin.driver.velt";
// The one a shell of that version ("43.9", "48.1", "45.beta") loads; the
// 43/44 one when the version cannot be read.
std::string_view shellExtensionUuid(std::string_view shellVersion);

// The routes of a function, in the order they are tried. folder: what the
// file manager opens.
std::vector<DesktopRoute> desktopRoutes(DesktopFunction function, const std::string& folder);

// The running desktop session, as the commands see it. Main thread only.
class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
  // Learns what the desktop offers without waiting for it; ready runs later
  // on the main thread (or at once, when nothing needs asking). The answers
  // below are what was learnt.
  virtual void refresh(std::function<void()> ready) = 0;
  // The bus name is owned, or can be started on demand, on the session bus.
  virtual bool hasService(std::string_view busName) = 0;
  // The window manager supports _NET_SHOWING_DESKTOP.
  virtual bool supportsShowingDesktop() = 0;
  // The program is found on PATH.
  virtual bool hasProgram(std::string_view program) = 0;
  // The agent's windows are on an X11 screen it can take pictures of.
  virtual bool hasX11Screen() = 0;
  // The desktop's name for log lines ("GNOME", "sway").
  virtual std::string desktopName() = 0;
  // Starts call without waiting for it; done runs later on the main thread
  // with an empty text when it worked, or the reason it did not.
  using Done = std::function<void(std::string failure)>;
  virtual void start(const DesktopCall& call, Done done) = 0;
};

class DesktopCommands {
 public:
  DesktopCommands(DesktopSession& session, MainThread& mainThread);
  ~DesktopCommands();

  // Starts function and returns at once; the routes are tried on the main
  // thread. The file manager opens the working directory as it is now.
  // finished, when given, runs on the main thread once the function is
  // settled, with the description of the route that worked, or an empty
  // text when none did.
  using Finished = std::function<void(const std::string& route)>;
  void run(DesktopFunction function, Finished finished = {});

 private:
  struct Attempt;
  void tryFrom(std::shared_ptr<Attempt> attempt, size_t index);
  void routeFailed(std::shared_ptr<Attempt> attempt, size_t index, const std::string& failure);
  void notOffered(const Attempt& attempt);
  bool offered(const DesktopRequirement& requirement);
  bool firstTime(std::string key);

  DesktopSession& session_;
  MainThread& mainThread_;
  std::shared_ptr<bool> alive_;
  std::mutex loggedMutex_;
  std::set<std::string> logged_;
};

}  // namespace velt
