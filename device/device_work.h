// Where the device layer's work runs: the HID listener, the identification
// queue and the countdowns, and the jobs that may wait seconds in a device
// request (handshakes, configuration passes, the pass that gives the mice
// back when the session leaves the seat). The agent runs the queue and the
// countdowns on the listener's own loop and each job on a thread of its
// own; a test runs them one after another on its own thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "core/delayed_tasks.h"
#include "device/hid_transport.h"

namespace velt {

// DelayedTasks: the countdowns' timers, run like the queue's tasks; dropped
// outside openQueue and closeQueue.
class DeviceWork : public DelayedTasks {
 public:
  ~DeviceWork() override = default;
  // Once: open, then, if it returned true, listen, which returns once the
  // transport has been stopped.
  virtual void startListener(std::function<bool()> open, std::function<void()> listen) = 0;
  // Waits for the listener to end; the transport has been stopped.
  virtual void joinListener() = 0;
  // The identification queue: from openQueue, tasks run one at a time in the
  // order posted; post returns false and drops the task before openQueue and
  // after closeQueue. closeQueue runs the tasks queued first.
  virtual void openQueue() = 0;
  virtual bool post(std::function<void()> task) = 0;
  virtual void closeQueue() = 0;
  // A job that may wait in a device request; awaitIdentification waits for
  // the handshake jobs.
  virtual void startJob(bool handshake, std::function<void()> job) = 0;
  // Returns once the handshake jobs under way have ended and the tasks posted
  // so far have run; at once when the queue is not open.
  virtual void awaitIdentification() = 0;
  // Waits for every job to end until clock reads deadline.
  virtual void awaitJobs(const Clock& clock, Clock::TimePoint deadline) = 0;
  // A job has not ended.
  virtual bool jobsLeft() = 0;
  // On the listener thread, between its events: the queue's tasks and the
  // timers due.
  virtual HidListener::NextRun runPosted() { return {}; }
};

// The agent's: one thread, "quorinAgentUSBListen", runs the transport's
// loop, and between its events the queue's tasks and the timers, which fall
// due on tickClock; and a thread per job. The destructor waits for the jobs
// that a silent device still keeps, until the request's time-out.
class ThreadedDeviceWork final : public DeviceWork {
 public:
  ThreadedDeviceWork(HidTransport& transport, Clock& tickClock)
      : transport_(transport), tickClock_(tickClock) {}
  ~ThreadedDeviceWork() override;
  ThreadedDeviceWork(const ThreadedDeviceWork&) = delete;
  ThreadedDeviceWork& operator=(const ThreadedDeviceWork&) = delete;

  void startListener(std::function<bool()> open, std::function<void()> listen) override;
  void joinListener() override;
  void openQueue() override;
  bool post(std::function<void()> task) override;
  void closeQueue() override;
  void startJob(bool handshake, std::function<void()> job) override;
  void awaitIdentification() override;
  void awaitJobs(const Clock& clock, Clock::TimePoint deadline) override;
  bool jobsLeft() override;
  void runAfter(std::string_view label, Clock::Duration delay, std::function<void()> task) override;
  HidListener::NextRun runPosted() override;

 private:
  struct Worker {
    std::thread thread;
    bool handshake = false;
    bool finished = false;  // guarded by workersLock_
  };
  // Joins the finished workers; workersLock_ held.
  void reapWorkersLocked();

  HidTransport& transport_;
  Clock& tickClock_;
  std::thread listener_;
  std::mutex queueLock_;                     // taken alone
  bool queueOpen_ = false;                   // guarded by queueLock_
  bool loopRunning_ = false;                 // the listener's thread; guarded by queueLock_
  std::thread::id loop_;                     // its id; guarded by queueLock_
  std::deque<std::function<void()>> tasks_;  // guarded by queueLock_
  // The timers by due time, those due together in the order asked for;
  // guarded by queueLock_.
  std::multimap<Clock::TimePoint, std::function<void()>> timers_;
  std::mutex workersLock_;  // taken alone
  std::condition_variable workerFinished_;
  std::list<Worker> workers_;  // guarded by workersLock_
};

}  // namespace velt
