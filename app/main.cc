// velt-mouse-assistant: the per-user agent behind the mouse's buttons.
#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/agent.h"
#include "core/log.h"
#include "platform/file_locations.h"
#include "platform/syslog_sink.h"
#include "platform/unix_signals.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("velt-mouse-assistant");
  QCoreApplication::setApplicationVersion(VELT_VERSION);

  velt::SyslogSink sink("velt-mouse-assistant");
  velt::setLogSink(&sink);
  if (const char* debug = std::getenv("VELT_DEBUG"); debug && *debug && *debug != '0') {
    velt::setDebugLogging(true);
  }

  velt::UnixSignalWatcher signalWatcher;
  QObject::connect(&signalWatcher, &velt::UnixSignalWatcher::terminationRequested, &app,
                   [&app](int) { app.quit(); });

  int status = 0;
  {
    velt::Agent agent(velt::findFileLocations());
    agent.setQuitHandler([&app](int code) {
      QMetaObject::invokeMethod(
          &app, [&app, code] { app.exit(code); }, Qt::QueuedConnection);
    });
    if (agent.start()) {
      status = app.exec();
    } else {
      velt::logLine("error run");
      std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    agent.stop();
  }
  velt::setLogSink(nullptr);
  return status;
}
