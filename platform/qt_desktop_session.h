// The desktop session behind the desktop functions: D-Bus services on the
// session bus (the screenshot portal, GNOME Shell, KDE Plasma), the X11
// window manager, the user's file manager and programs started without a
// shell. Main thread only; nothing here waits for a desktop to finish.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "actions/desktop_commands.h"
#include "platform/x11_session.h"

class QObject;
class QDBusMessage;

namespace velt {

class QtDesktopSession : public DesktopSession {
 public:
  explicit QtDesktopSession(X11Session& x11);
  // Pending answers are dropped.
  ~QtDesktopSession() override;

  bool hasService(std::string_view busName) override;
  bool supportsShowingDesktop() override;
  bool hasProgram(std::string_view program) override;
  void start(const DesktopCall& call, Done done) override;

 private:
  void callMethod(const QDBusMessage& message, Done done);
  void toggleShellOverview(Done done);
  void takeScreenshot(Done done);
  void openFolder(const std::string& folder, Done done);
  void startProgram(const std::vector<std::string>& arguments, Done done);

  X11Session& x11_;
  std::unique_ptr<QObject> context_;  // parent of everything still pending
  int requestCount_ = 0;
  bool busMissingLogged_ = false;
};

}  // namespace velt
