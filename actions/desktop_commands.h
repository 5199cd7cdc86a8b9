// The button functions that start a part of the desktop instead of sending
// keys: the window overview, show desktop, the current application's windows,
// the application grid, the file manager and the screenshot tool. Each has an
// ordered list of routes (freedesktop interfaces first, then the GNOME Shell
// and KDE Plasma calls); the first route the desktop offers is taken, and
// when it fails the next one is tried.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "actions/synthetic_events.h"
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
    ToggleShellOverview,   // GNOME Shell's OverviewActive property, flipped
    DBusMethod,            // service, path, interface, method (string arguments)
    OpenFolder,            // arguments[0], with the user's file manager
    ScreenshotPortal,      // the freedesktop screenshot portal, interactive
    StartProgram,          // arguments: program and its arguments, no shell
    KeyChord,              // keys: virtual key codes, modifiers first, key last
  };
  Kind kind;
  std::string service;
  std::string path;
  std::string interface;
  std::string method;
  std::vector<std::string> arguments;
  std::vector<int32_t> keys;

  // "dbus org.kde.KWin /component/kwin ....invokeShortcut(Expose)" and the like.
  std::string describe() const;
};

// What must be present for a route to be taken.
struct DesktopRequirement {
  enum class Kind : uint8_t { None, Service, ShowingDesktopHint, Program };
  Kind kind = Kind::None;
  std::string name;  // the bus name or the program
};

struct DesktopRoute {
  DesktopRequirement requirement;
  DesktopCall call;
};

// The routes of a function, in the order they are tried. folder: what the
// file manager opens.
std::vector<DesktopRoute> desktopRoutes(DesktopFunction function, const std::string& folder);

// The running desktop session, as the commands see it. Main thread only.
class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
  // The bus name is owned, or can be started on demand, on the session bus.
  virtual bool hasService(std::string_view busName) = 0;
  // The window manager supports _NET_SHOWING_DESKTOP.
  virtual bool supportsShowingDesktop() = 0;
  // The program is found on PATH.
  virtual bool hasProgram(std::string_view program) = 0;
  // Starts call without waiting for it; done runs later on the main thread
  // with an empty text when it worked, or the reason it did not.
  using Done = std::function<void(std::string failure)>;
  virtual void start(const DesktopCall& call, Done done) = 0;
};

class DesktopCommands {
 public:
  // keys: for routes that press a key chord.
  DesktopCommands(DesktopSession& session, MainThread& mainThread, SyntheticEvents& keys);
  ~DesktopCommands();

  // Starts function and returns at once; the routes are tried on the main
  // thread. The file manager opens the working directory as it is now.
  void run(DesktopFunction function);

 private:
  struct Attempt;
  void tryFrom(std::shared_ptr<Attempt> attempt, size_t index);
  void routeFailed(std::shared_ptr<Attempt> attempt, size_t index, const std::string& failure);
  bool offered(const DesktopRequirement& requirement);
  bool firstTime(std::string key);

  DesktopSession& session_;
  MainThread& mainThread_;
  SyntheticEvents& keys_;
  std::shared_ptr<bool> alive_;
  std::mutex loggedMutex_;
  std::set<std::string> logged_;
};

}  // namespace velt
