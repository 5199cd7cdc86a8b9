// One agent per user: a lock file in the user's runtime folder, and beside it
// a local socket through which a second copy, or the command line, asks the
// first to do something. Each connection carries one request line and gets
// one answer line back; only processes of the same user are heard.
//
// What a client can cost is bounded: a request line is at most 256 bytes (a
// longer one is refused, never cut), a client that does not finish its line
// within a few seconds is let go, at most 16 are connected at a time (the
// oldest that has not finished its line makes room for a new one), and the
// connection closes once the answer is out.
#pragma once

#include <QObject>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace velt {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // Sends the answer line and closes the connection (see setLastingRequests).
  // Main thread; the first call counts, and a client that has gone is not an
  // error.
  using Reply = std::function<void(std::string_view answer)>;
  // A request line (without its newline), on the main thread.
  using RequestHandler = std::function<void(const std::string& request, Reply reply)>;

  // runtimeDir: the folder of the lock and the socket, which must be the
  // user's own (made, mode 0700, when missing); name: their stem.
  SingleInstance(std::filesystem::path runtimeDir, std::string name, QObject* parent = nullptr);
  // release()
  ~SingleInstance() override;

  // Takes the lock, without listening. False when another copy holds it, or
  // when no lock can be had (the folder is not the user's own, or the lock
  // file cannot be made): that is logged in one line, and
  // heldByAnotherCopy() tells the two apart.
  bool acquireLock();
  // The lock, then listening for requests: true for the first copy.
  bool acquire();
  bool heldByAnotherCopy() const { return heldElsewhere_; }
  // Removes the socket and the lock file while still holding the lock, then
  // lets go of it. Nothing when the lock is not held.
  void release();

  void setRequestHandler(RequestHandler handler) { handler_ = std::move(handler); }
  // Connections that carry one of these requests stay open after the answer
  // until release(), so that their caller learns when the agent has ended.
  void setLastingRequests(std::set<std::string> requests) { lasting_ = std::move(requests); }
  // How long a client may take to finish its line (a few seconds).
  void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
  // Connections open now.
  size_t clientCount() const { return clients_.size(); }

  // Second copy: asks the running copy to bring its window to the front.
  // Waits at most timeoutMs for the answer; false when nobody answered.
  bool askRunningCopyToReopen(int timeoutMs = 1000);

  std::filesystem::path lockPath() const;
  std::filesystem::path socketPath() const;

 private:
  struct Client {
    uint64_t order = 0;      // arrival
    bool requested = false;  // its line is read
    QTimer* idle = nullptr;
  };
  void acceptConnections();
  bool fromThisUser(QLocalSocket* socket);
  bool makeRoom();
  void readRequest(QLocalSocket* socket);
  void answer(QLocalSocket* socket, std::string_view line, bool close);

  std::filesystem::path runtimeDir_;
  std::string name_;
  int lockFd_ = -1;
  bool heldElsewhere_ = false;
  QLocalServer* server_ = nullptr;
  RequestHandler handler_;
  std::set<std::string> lasting_;
  std::chrono::milliseconds idleTimeout_{3000};
  std::map<QLocalSocket*, Client> clients_;
  uint64_t arrivals_ = 0;
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
