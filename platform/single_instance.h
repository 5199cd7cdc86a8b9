// One agent per user: a lock file in $XDG_RUNTIME_DIR, and beside it a local
// socket through which a second copy asks the first to show its window.
#pragma once

#include <QObject>
#include <filesystem>

class QLocalServer;

namespace velt {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // runtimeDir: the folder of the lock and the socket; name: their stem.
  SingleInstance(std::filesystem::path runtimeDir, std::string name, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Takes the lock. True for the first copy, which then listens for
  // reopen requests; false when another copy holds the lock. A lock that
  // cannot be made at all (no runtime folder) is logged and counts as taken,
  // so the agent still runs.
  bool acquire();

  // Second copy: asks the running copy to bring its window to the front.
  // Waits at most timeoutMs for the hand-over; false when nobody answered.
  bool askRunningCopyToReopen(int timeoutMs = 1000);

  std::filesystem::path lockPath() const;
  std::filesystem::path socketPath() const;

 signals:
  // A second copy was started.
  void reopenRequested();

 private:
  void acceptConnections();

  std::filesystem::path runtimeDir_;
  std::string name_;
  int lockFd_ = -1;
  QLocalServer* server_ = nullptr;
};

}  // namespace velt
