// The mice's last reports, for a process that dies of a fault. A mouse that
// was told to hand buttons to the agent keeps doing so after the agent has
// gone; these reports take them back. Everything a fatal signal's handler
// needs is prepared while the agent runs: a descriptor of its own for each
// node, and each report already laid out as hidraw takes it, so that sending
// them needs nothing but system calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/hid_transport.h"

namespace velt {

class CrashRestore {
 public:
  // Room for this many mice, each with this many reports of at most
  // kReportBytes (the report number included); the protocol's longest
  // restore needs three reports of 36 bytes.
  static constexpr size_t kDevices = 16;
  static constexpr size_t kReports = 4;
  static constexpr size_t kReportBytes = 64;

  CrashRestore() = default;
  // Closes the descriptors it keeps.
  ~CrashRestore();
  CrashRestore(const CrashRestore&) = delete;
  CrashRestore& operator=(const CrashRestore&) = delete;

  // Keeps reports for device, to be written through a duplicate of fd; an
  // empty list forgets the device. Any thread. False, with nothing kept for
  // the device, when they do not fit or fd cannot be duplicated.
  bool keep(DeviceHandle device, int fd, const std::vector<ConfigurationReport>& reports);
  void forget(DeviceHandle device);
  // How many devices have reports kept.
  size_t devices() const;

  // Writes every kept list, one device after another, each report after its
  // pause, once per process however often it is called. Async-signal-safe:
  // it makes no call but ioctl and nanosleep, takes no lock and allocates
  // nothing. Returns how many devices took all their reports.
  int sendFromSignalHandler();

 private:
  struct Report {
    uint32_t pauseMicroseconds = 0;
    uint32_t length = 0;
    uint8_t bytes[kReportBytes] = {};
  };
  struct List {
    uint32_t count = 0;
    Report reports[kReports];
  };
  // A slot is in use while fd is not -1. Writers fill the list the handler
  // does not read, then make it the current one, so that a handler sees a
  // whole list (short of two updates landing while it reads one); a handler
  // that runs while its slot is being forgotten may find the descriptor
  // closed, and the write then fails harmlessly.
  struct Slot {
    std::atomic<DeviceHandle> device{0};
    std::atomic<int> fd{-1};
    std::atomic<uint32_t> current{0};
    List lists[2];
  };
  Slot* findLocked(DeviceHandle device);

  std::mutex mutex_;  // writers only
  Slot slots_[kDevices];
  std::atomic<bool> sent_{false};
};

// Handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT that send
// restore's reports and then let the signal take its course, so that the
// exit status and any core dump stay what they would have been. restore must
// live until the process ends. Main thread, once.
void installFatalSignalHandlers(CrashRestore& restore);

}  // namespace velt
