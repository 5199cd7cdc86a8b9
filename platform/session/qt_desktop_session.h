// The desktop session behind the desktop functions: D-Bus services on the
// session bus (the agent's GNOME Shell extension, the screenshot portal, GNOME
// Shell, KDE Plasma), the X11 window manager, the user's file manager and
// programs. Main thread only; nothing here waits for another process: bus
// names are learnt asynchronously and then followed through NameOwnerChanged,
// and the X11 round trips run on a thread of their own.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "actions/desktop_commands.h"
#include "core/serial_queue.h"
#include "platform/process/qt_main_thread.h"
#include "platform/x11/x11_session.h"

class QObject;
class QDBusMessage;

class QImage;

namespace velt {

class QtDesktopSession : public DesktopSession {
 public:
  explicit QtDesktopSession(X11Session& x11);
  // Pending answers are dropped.
  ~QtDesktopSession() override;

  void refresh(std::function<void()> ready) override;
  bool hasService(std::string_view busName) override;
  bool supportsShowingDesktop() override;
  bool hasProgram(std::string_view program) override;
  bool hasX11Screen() override;
  std::string desktopName() override;
  void start(const DesktopCall& call, Done done) override;

  // Called by the bus watcher.
  void nameOwnerChanged(const std::string& name, bool owned);

 private:
  struct Waiting;
  void learnBusNames(std::shared_ptr<Waiting> waiting);
  void callMethod(const QDBusMessage& message, Done done);
  void toggleProperty(const DesktopCall& call, Done done);
  void toggleShowingDesktop(Done done);
  void takeScreenshot(Done done);
  void runScreenshotProgram(const std::vector<std::string>& arguments, Done done);
  void grabScreen(Done done);
  void captureKWin(Done done);
  // Saves what take gives, on the X11 thread, as a new picture in Pictures;
  // take sets failure when it gives a null image.
  void savePicture(std::function<QImage(std::string& failure)> take, Done done);
  void openFolder(const std::string& folder, Done done);
  void startProgram(const std::vector<std::string>& arguments, Done done);
  // Runs task on the X11 thread, then then on the main thread.
  void onX11Thread(std::function<void()> task, std::function<void()> then);

  X11Session& x11_;
  std::unique_ptr<QObject> context_;   // parent of everything still pending
  QtMainThread answers_;               // the X11 thread's answers, to the main thread
  std::set<std::string> owned_;        // bus names with an owner
  std::set<std::string> activatable_;  // bus names the bus can start
  bool namesKnown_ = false;
  std::vector<std::shared_ptr<Waiting>> waitingForNames_;
  bool showingDesktopHint_ = false;
  int requestCount_ = 0;
  bool busMissingLogged_ = false;
  std::unique_ptr<SerialQueue> x11Thread_;  // last: joined first
};

}  // namespace velt
