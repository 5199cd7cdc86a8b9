#include "platform/hid/crash_restore.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace velt {

CrashRestore::~CrashRestore() {
  for (Slot& slot : slots_) {
    const int fd = slot.fd.exchange(-1);
    if (fd >= 0) ::close(fd);
  }
}

CrashRestore::Slot* CrashRestore::findLocked(DeviceHandle device) {
  for (Slot& slot : slots_) {
    if (slot.fd.load() >= 0 && slot.device.load() == device) return &slot;
  }
  return nullptr;
}

bool CrashRestore::keep(DeviceHandle device, int fd,
                        const std::vector<ConfigurationReport>& reports) {
  if (reports.empty()) {
    forget(device);
    return true;
  }
  List list;
  bool fits = reports.size() <= kReports;
  for (size_t i = 0; fits && i < reports.size(); ++i) {
    const ConfigurationReport& r = reports[i];
    // The hidraw buffer: the report number first, which for unnumbered
    // reports is a 0 in front of the report's bytes.
    const size_t offset = r.reportId == 0 ? 1 : 0;
    if (r.bytes.size() + offset > kReportBytes || (offset == 0 && r.bytes.empty())) {
      fits = false;
      break;
    }
    Report& out = list.reports[i];
    std::memcpy(out.bytes + offset, r.bytes.data(), r.bytes.size());
    out.bytes[0] = r.reportId;
    out.length = static_cast<uint32_t>(r.bytes.size() + offset);
    out.pauseMicroseconds = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(r.pauseBefore).count());
  }
  list.count = static_cast<uint32_t>(reports.size());

  std::lock_guard lock(mutex_);
  Slot* slot = findLocked(device);
  if (!fits) {
    if (slot) {
      const int old = slot->fd.exchange(-1);
      ::close(old);
    }
    return false;
  }
  if (slot) {
    const uint32_t next = 1 - slot->current.load();
    slot->lists[next] = list;
    slot->current.store(next);
    return true;
  }
  for (Slot& free : slots_) {
    if (free.fd.load() >= 0) continue;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return false;
    free.lists[0] = list;
    free.current.store(0);
    free.device.store(device);
    free.fd.store(own);
    return true;
  }
  return false;
}

void CrashRestore::forget(DeviceHandle device) {
  std::lock_guard lock(mutex_);
  if (Slot* slot = findLocked(device)) {
    const int fd = slot->fd.exchange(-1);
    ::close(fd);
  }
}

size_t CrashRestore::devices() const {
  size_t n = 0;
  for (const Slot& slot : slots_) n += slot.fd.load() >= 0;
  return n;
}

int CrashRestore::sendFromSignalHandler() {
  if (sent_.exchange(true)) return 0;
  int done = 0;
  for (Slot& slot : slots_) {
    const int fd = slot.fd.load();
    if (fd < 0) continue;
    const List& list = slot.lists[slot.current.load()];
    bool all = true;
    for (uint32_t i = 0; i < list.count && i < kReports; ++i) {
      const Report& r = list.reports[i];
      if (r.pauseMicroseconds > 0) {
        timespec pause{0, static_cast<long>(r.pauseMicroseconds) * 1000};
        while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
      }
      // The ioctl reads the buffer only; the copy keeps the kept list as it is.
      uint8_t buffer[kReportBytes];
      std::memcpy(buffer, r.bytes, r.length);
      if (::ioctl(fd, HIDIOCSFEATURE(r.length), buffer) < 0) all = false;
    }
    done += all;
  }
  return done;
}

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
std::atomic<CrashRestore*> fatalRestore{nullptr};

void onFatalSignal(int signal) {
  const int saved = errno;
  if (CrashRestore* restore = fatalRestore.load()) restore->sendFromSignalHandler();
  errno = saved;
  // The default action is back (SA_RESETHAND); the signal, blocked while
  // this runs, is delivered again as the handler returns.
  ::raise(signal);
}

}  // namespace

void installFatalSignalHandlers(CrashRestore& restore) {
  fatalRestore.store(&restore);
  // A stack of its own, so that a fault that ran the main thread's stack
  // out still gives the mice back.
  static char alternateStack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_ONSTACK;
  for (int s : kFatalSignals) ::sigaction(s, &action, nullptr);
}

}  // namespace velt
