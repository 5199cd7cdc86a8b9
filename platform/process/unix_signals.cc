#include "platform/process/unix_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "core/log.h"

namespace velt {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signal);
  (void)!write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject* parent) : QObject(parent) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
    logFormat("signal pipe: %s", strerror(errno));
    return;
  }
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &UnixSignalWatcher::readSignal);
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
}

UnixSignalWatcher::~UnixSignalWatcher() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
}

void UnixSignalWatcher::readSignal() {
  unsigned char byte = 0;
  while (read(signalPipe[0], &byte, 1) == 1) emit terminationRequested(byte);
}

}  // namespace velt
