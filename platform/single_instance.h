// One agent per user: a lock file in $XDG_RUNTIME_DIR, and beside it a local
// socket through which a second copy, or the command line, asks the first
// to do something. Each connection carries one request line and gets one
// answer line back; only processes of the same user are heard.
#pragma once

#include <QObject>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>

class QLocalServer;
class QLocalSocket;

namespace velt {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // Sends the answer line. Main thread; the first call counts, and a client
  // that has gone is not an error.
  using Reply = std::function<void(std::string_view answer)>;
  // A request line (without its newline), on the main thread.
  using RequestHandler = std::function<void(const std::string& request, Reply reply)>;

  // runtimeDir: the folder of the lock and the socket; name: their stem.
  SingleInstance(std::filesystem::path runtimeDir, std::string name, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Takes the lock. True for the first copy, which then listens for
  // requests; false when another copy holds the lock. A lock that cannot be
  // made at all (no runtime folder) is logged and counts as taken, so the
  // agent still runs.
  bool acquire();
  // Takes the lock only, without listening: true when no agent runs for
  // this user, which cannot start until this is destroyed.
  bool acquireLock();
  // Removes the socket and the lock file, the lock still held; the
  // destructor does the same.
  void release();
  void setRequestHandler(RequestHandler handler) { handler_ = std::move(handler); }

  // Second copy: asks the running copy to bring its window to the front.
  // Waits at most timeoutMs for the answer; false when nobody answered.
  bool askRunningCopyToReopen(int timeoutMs = 1000);

  std::filesystem::path lockPath() const;
  std::filesystem::path socketPath() const;

 private:
  void acceptConnections();
  bool fromThisUser(QLocalSocket* socket);
  void readRequest(QLocalSocket* socket);

  std::filesystem::path runtimeDir_;
  std::string name_;
  int lockFd_ = -1;
  QLocalServer* server_ = nullptr;
  RequestHandler handler_;
  std::set<unsigned> refusedUsers_;  // logged once each
};

// What came of a request to the running copy.
struct InstanceReply {
  enum class Status {
    Answered,  // answer holds its line
    NoAgent,   // nobody listens at the socket; answer: why, when unusual
    NoAnswer,  // connected, but no (whole) answer in time, or not our user
  };
  Status status = Status::NoAgent;
  std::string answer;
};

// Sends one request line to the copy listening at socketPath and waits up
// to answerTimeoutMs for its answer. With closeTimeoutMs, then waits that
// long for the running copy to close the connection, which it does as it
// ends (a quit request). Needs no display, nor an event loop.
InstanceReply askRunningCopy(const std::filesystem::path& socketPath, std::string_view request,
                             int answerTimeoutMs, int closeTimeoutMs = 0);

}  // namespace velt
