#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <cerrno>
#include <cstring>

#include "core/log.h"

namespace velt {
namespace {

// Requests are a word and a function code; anything longer is not one.
constexpr qint64 kLongestRequest = 256;

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

void SingleInstance::release() {
  if (server_) server_->close();
  server_ = nullptr;
  if (lockFd_ >= 0) {
    ::unlink(lockPath().c_str());
    close(lockFd_);
    lockFd_ = -1;
  }
}

std::filesystem::path SingleInstance::lockPath() const {
  return runtimeDir_ / (name_ + ".lock");
}

std::filesystem::path SingleInstance::socketPath() const {
  return runtimeDir_ / (name_ + ".socket");
}

bool SingleInstance::acquireLock() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    lockFd_ = open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
      logFormat("%s: cannot create the lock file: %s", lockPath().c_str(), strerror(errno));
      return true;
    }
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
      close(lockFd_);
      lockFd_ = -1;
      return false;
    }
    // The copy that held it may have removed the file as it ended, after
    // this one opened it: a lock on a file nobody can find is no lock.
    struct stat held {
    }, named{};
    if (fstat(lockFd_, &held) == 0 && stat(lockPath().c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      return true;
    }
    close(lockFd_);
    lockFd_ = -1;
  }
  return false;
}

bool SingleInstance::acquire() {
  if (!acquireLock()) return false;
  if (lockFd_ < 0) return true;
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

void SingleInstance::acceptConnections() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // The socket file is the user's alone, but the folder it lies in need
    // not be: the kernel's word on who connected is what counts.
    if (!fromThisUser(socket)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
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

void SingleInstance::readRequest(QLocalSocket* socket) {
  if (!socket->canReadLine()) {
    if (socket->bytesAvailable() > kLongestRequest) socket->abort();
    return;
  }
  // One request a connection.
  disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
  const std::string request = withoutNewline(socket->readLine(kLongestRequest + 1));
  QPointer<QLocalSocket> client(socket);
  auto answered = std::make_shared<bool>(false);
  Reply reply = [client, answered](std::string_view answer) {
    if (!client || *answered) return;
    *answered = true;
    client->write(answer.data(), static_cast<qint64>(answer.size()));
    client->write("\n", 1);
    client->flush();
  };
  if (!handler_) {
    reply("refused the agent is not ready");
    return;
  }
  handler_(request, std::move(reply));
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
