#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>

#include "core/log.h"

namespace velt {
namespace {
constexpr char kReopen[] = "reopen\n";
}

SingleInstance::SingleInstance(std::filesystem::path runtimeDir, std::string name, QObject* parent)
    : QObject(parent), runtimeDir_(std::move(runtimeDir)), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
  if (lockFd_ >= 0) close(lockFd_);
}

std::filesystem::path SingleInstance::lockPath() const {
  return runtimeDir_ / (name_ + ".lock");
}

std::filesystem::path SingleInstance::socketPath() const {
  return runtimeDir_ / (name_ + ".socket");
}

bool SingleInstance::acquire() {
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
  // The socket of a copy that died is stale; nobody else can be using it
  // while we hold the lock.
  QString socket = QString::fromStdString(socketPath().string());
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
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      while (socket->canReadLine()) {
        if (socket->readLine() == kReopen) emit reopenRequested();
      }
    });
  }
}

bool SingleInstance::askRunningCopyToReopen(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(socketPath().string()));
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kReopen);
  bool written = socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return written;
}

}  // namespace velt
