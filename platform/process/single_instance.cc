#include "platform/process/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "core/log.h"
#include "platform/process/file_locations.h"

namespace velt {
namespace {

// Requests are a word and a function code; anything longer is not one.
constexpr qint64 kLongestRequest = 256;
constexpr size_t kMostClients = 16;
// Times a lock file removed under us by the copy that held it is looked
// for again.
constexpr int kLockAttempts = 8;

QString qtPath(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

// The user at the other end of a connected local socket, or -1.
long long peerUser(qintptr descriptor) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
    return -1;
  }
  return peer.uid;
}

std::string withoutNewline(QByteArray line) {
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  return line.toStdString();
}

}  // namespace

SingleInstance::SingleInstance(std::filesystem::path runtimeDir, std::string name, QObject* parent)
    : QObject(parent), runtimeDir_(std::move(runtimeDir)), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
  release();
}

std::filesystem::path SingleInstance::lockPath() const {
  return runtimeDir_ / (name_ + ".lock");
}

std::filesystem::path SingleInstance::socketPath() const {
  return runtimeDir_ / (name_ + ".socket");
}

bool SingleInstance::acquireLock() {
  if (lockFd_ >= 0) return true;
  heldElsewhere_ = false;
  auto cannot = [this](const std::string& why) {
    logFormat("%s: cannot take the lock that keeps one agent per user: %s; not starting",
              lockPath().c_str(), why.c_str());
    return false;
  };
  // Anyone who could write in the folder could swap the lock file under us.
  if (std::string problem = privateFolderProblem(runtimeDir_, true); !problem.empty()) {
    return cannot(runtimeDir_.string() + " is " + problem);
  }
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    const int fd = open(lockPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return cannot(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
    struct stat locked {};
    if (fstat(fd, &locked) != 0 || !S_ISREG(locked.st_mode) || locked.st_uid != geteuid()) {
      close(fd);
      return cannot("not a file of this user's own");
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) {
        heldElsewhere_ = true;
        return false;
      }
      return cannot(std::strerror(error));
    }
    // The copy that held the lock removes its file as it ends: the file we
    // opened just before may be one nobody else will ever open again.
    struct stat named {};
    if (stat(lockPath().c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
        named.st_ino == locked.st_ino) {
      lockFd_ = fd;
      return true;
    }
    close(fd);
  }
  return cannot("it keeps being removed");
}

bool SingleInstance::acquire() {
  if (!acquireLock()) return false;
  if (server_) return true;
  // The socket of a copy that died is stale; nobody else can be using it
  // while we hold the lock.
  QString socket = qtPath(socketPath());
  QLocalServer::removeServer(socket);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socket)) {
    logFormat("%s: cannot listen for a second copy: %s", socketPath().c_str(),
              server_->errorString().toUtf8().constData());
  }
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
  return true;
}

void SingleInstance::release() {
  if (lockFd_ < 0) return;
  if (server_) {
    const bool listening = server_->isListening();
    delete server_;  // and every connection with it
    server_ = nullptr;
    clients_.clear();
    if (listening) unlink(socketPath().c_str());
  }
  // Removed while still held: whoever opened it meanwhile finds it gone
  // once it has the lock, and looks again.
  unlink(lockPath().c_str());
  close(lockFd_);
  lockFd_ = -1;
}

void SingleInstance::acceptConnections() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // The socket file is the user's alone, but the folder it lies in need
    // not be: the kernel's word on who connected is what counts.
    if (!fromThisUser(socket) || !makeRoom()) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // Never more than a line, and a little, waits in our buffer.
    socket->setReadBufferSize(kLongestRequest + 2);
    Client& client = clients_[socket];
    client.order = ++arrivals_;
    client.idle = new QTimer(socket);
    client.idle->setSingleShot(true);
    connect(client.idle, &QTimer::timeout, socket, &QLocalSocket::abort);
    client.idle->start(idleTimeout_);
    connect(socket, &QObject::destroyed, this, [this, socket] { clients_.erase(socket); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
    readRequest(socket);
  }
}

bool SingleInstance::fromThisUser(QLocalSocket* socket) {
  const long long user = peerUser(socket->socketDescriptor());
  if (user == static_cast<long long>(geteuid())) return true;
  if (refusedUsers_.insert(static_cast<unsigned>(user)).second) {
    logFormat("%s: refused a request from user %lld, not this agent's user", socketPath().c_str(),
              user);
  }
  return false;
}

// At the limit, the oldest client that has not finished its line goes; when
// every one has, and waits for its answer, the newcomer does.
bool SingleInstance::makeRoom() {
  if (clients_.size() < kMostClients) return true;
  QLocalSocket* oldest = nullptr;
  uint64_t order = UINT64_MAX;
  for (const auto& [socket, client] : clients_) {
    if (!client.requested && client.order < order) {
      oldest = socket;
      order = client.order;
    }
  }
  if (!oldest) return false;
  clients_.erase(oldest);
  oldest->abort();
  oldest->deleteLater();
  return true;
}

void SingleInstance::readRequest(QLocalSocket* socket) {
  auto found = clients_.find(socket);
  if (found == clients_.end() || found->second.requested) return;
  const QByteArray waiting = socket->peek(kLongestRequest + 2);
  const qsizetype end = waiting.indexOf('\n');
  if (end < 0 && waiting.size() <= kLongestRequest) return;  // more to come
  // One request a connection.
  found->second.requested = true;
  found->second.idle->stop();
  disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
  if (end < 0 || end > kLongestRequest) {
    answer(socket, "refused the request is longer than 256 bytes", true);
    return;
  }
  const std::string request = withoutNewline(socket->read(end + 1));
  QPointer<QLocalSocket> client(socket);
  const bool close = !lasting_.contains(request);
  auto answered = std::make_shared<bool>(false);
  Reply reply = [this, client, answered, close](std::string_view line) {
    if (!client || *answered) return;
    *answered = true;
    answer(client, line, close);
  };
  if (!handler_) {
    reply("refused the agent is not ready");
    return;
  }
  handler_(request, std::move(reply));
}

void SingleInstance::answer(QLocalSocket* socket, std::string_view line, bool close) {
  socket->write(line.data(), static_cast<qint64>(line.size()));
  socket->write("\n", 1);
  socket->flush();
  // Closes once what is written has gone out.
  if (close) socket->disconnectFromServer();
}

bool SingleInstance::askRunningCopyToReopen(int timeoutMs) {
  return askRunningCopy(socketPath(), "reopen", timeoutMs).status ==
         InstanceReply::Status::Answered;
}

InstanceReply askRunningCopy(const std::filesystem::path& socketPath, std::string_view request,
                             int answerTimeoutMs, int closeTimeoutMs) {
  InstanceReply reply;
  QLocalSocket socket;
  socket.connectToServer(qtPath(socketPath));
  if (!socket.waitForConnected(answerTimeoutMs)) {
    // No socket, or one left by a copy that has ended, is simply no agent.
    const auto error = socket.error();
    if (error != QLocalSocket::ServerNotFoundError &&
        error != QLocalSocket::ConnectionRefusedError) {
      reply.answer = socket.errorString().toStdString();
    }
    return reply;
  }
  reply.status = InstanceReply::Status::NoAnswer;
  if (peerUser(socket.socketDescriptor()) != static_cast<long long>(geteuid())) {
    reply.answer = socketPath.string() + " belongs to another user";
    return reply;
  }
  socket.write(request.data(), static_cast<qint64>(request.size()));
  socket.write("\n", 1);
  if (!socket.waitForBytesWritten(answerTimeoutMs)) {
    reply.answer = socket.errorString().toStdString();
    return reply;
  }
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(answerTimeoutMs)) {
      reply.answer = "no answer";
      return reply;
    }
  }
  reply.answer = withoutNewline(socket.readLine());
  reply.status = InstanceReply::Status::Answered;
  if (closeTimeoutMs > 0 && socket.state() != QLocalSocket::UnconnectedState &&
      !socket.waitForDisconnected(closeTimeoutMs)) {
    reply.status = InstanceReply::Status::NoAnswer;
    reply.answer = "the agent did not end within " + std::to_string(closeTimeoutMs / 1000) + " s";
  }
  return reply;
}

}  // namespace velt
