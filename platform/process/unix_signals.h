// SIGTERM, SIGINT and SIGHUP end the agent through the normal termination
// path: the handler only writes to a pipe, and the event loop quits.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace velt {

class UnixSignalWatcher : public QObject {
  Q_OBJECT
 public:
  explicit UnixSignalWatcher(QObject* parent = nullptr);
  ~UnixSignalWatcher() override;

 signals:
  void terminationRequested(int signal);

 private:
  void readSignal();
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace velt
