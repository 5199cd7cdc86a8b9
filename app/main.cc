// velt-mouse-assistant: the per-user agent behind the mouse's buttons.
#include <QApplication>
#include <cstdlib>

#include "app/agent.h"
#include "core/log.h"
#include "platform/file_locations.h"
#include "platform/syslog_sink.h"
#include "platform/unix_signals.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("velt-mouse-assistant");
  QApplication::setApplicationVersion(VELT_VERSION);
  QApplication::setQuitOnLastWindowClosed(false);

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
    agent.createOverlay();
    agent.start();
    status = app.exec();
    agent.stop();
  }
  velt::setLogSink(nullptr);
  return status;
}
