#include "device/device_work.h"

#include <future>

#include "core/log.h"
#include "core/serial_queue.h"

namespace velt {
namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(5);

}  // namespace

ThreadedDeviceWork::~ThreadedDeviceWork() {
  joinListener();
  closeQueue();
  // What a silent device still holds: its request ends with the kernel's
  // time-out, and the thread with it.
  std::list<Worker> left;
  {
    std::lock_guard lock(workersLock_);
    left.swap(workers_);
  }
  for (Worker& w : left) w.thread.join();
}

void ThreadedDeviceWork::startListener(std::function<bool()> open, std::function<void()> listen) {
  {
    std::lock_guard lock(queueLock_);
    loopRunning_ = true;
  }
  listener_ = std::thread([this, open = std::move(open), listen = std::move(listen)] {
    nameCurrentThread("quorinAgentUSBListen");
    {
      std::lock_guard lock(queueLock_);
      loop_ = std::this_thread::get_id();
    }
    if (open()) listen();
    // What is posted from now on waits for closeQueue.
    std::lock_guard lock(queueLock_);
    loop_ = {};
    loopRunning_ = false;
  });
}

void ThreadedDeviceWork::joinListener() {
  if (listener_.joinable()) listener_.join();
}

void ThreadedDeviceWork::openQueue() {
  std::lock_guard lock(queueLock_);
  queueOpen_ = true;
}

bool ThreadedDeviceWork::post(std::function<void()> task) {
  {
    std::lock_guard lock(queueLock_);
    if (!queueOpen_) return false;
    tasks_.push_back(std::move(task));
    // The loop runs what it posts itself once the event in hand is done.
    if (loop_ == std::this_thread::get_id()) return true;
  }
  transport_.wake();
  return true;
}

void ThreadedDeviceWork::runAfter(std::string_view label, Clock::Duration delay,
                                  std::function<void()> task) {
  logDebug("delayed task \"%.*s\" in %lld us", static_cast<int>(label.size()), label.data(),
           static_cast<long long>(delay.count() / 1000));
  const Clock::TimePoint due = tickClock_.now() + delay;
  {
    std::lock_guard lock(queueLock_);
    if (!queueOpen_) return;
    timers_.emplace(due, std::move(task));
    if (loop_ == std::this_thread::get_id()) return;
  }
  transport_.wake();
}

HidListener::NextRun ThreadedDeviceWork::runPosted() {
  // The tasks queued so far and the timers due now; what they add runs on
  // the next round, so that the transport's events are never kept waiting.
  const Clock::TimePoint now = tickClock_.now();
  std::unique_lock lock(queueLock_);
  std::deque<std::function<void()>> batch;
  batch.swap(tasks_);
  for (;;) {
    std::function<void()> task;
    if (!batch.empty()) {
      task = std::move(batch.front());
      batch.pop_front();
    } else if (!timers_.empty() && timers_.begin()->first <= now) {
      task = std::move(timers_.begin()->second);
      timers_.erase(timers_.begin());
    } else {
      break;
    }
    lock.unlock();
    task();
    lock.lock();
  }
  if (!tasks_.empty()) return {&tickClock_, now};
  if (timers_.empty()) return {};
  return {&tickClock_, timers_.begin()->first};
}

void ThreadedDeviceWork::closeQueue() {
  std::deque<std::function<void()>> left;
  {
    std::lock_guard lock(queueLock_);
    queueOpen_ = false;
    timers_.clear();
    left.swap(tasks_);
  }
  // The listener has ended: these run here, one after another, as it would
  // have run them.
  for (auto& task : left) task();
}

void ThreadedDeviceWork::startJob(bool handshake, std::function<void()> job) {
  std::lock_guard lock(workersLock_);
  reapWorkersLocked();
  Worker& worker = workers_.emplace_back();
  worker.handshake = handshake;
  worker.thread = std::thread([this, &worker, job = std::move(job)] {
    job();
    std::lock_guard done(workersLock_);
    worker.finished = true;
    workerFinished_.notify_all();
  });
}

void ThreadedDeviceWork::reapWorkersLocked() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (!it->finished) {
      ++it;
      continue;
    }
    it->thread.join();  // it has only its return left
    it = workers_.erase(it);
  }
}

void ThreadedDeviceWork::awaitIdentification() {
  {
    std::unique_lock lock(workersLock_);
    workerFinished_.wait(lock, [this] {
      for (const Worker& w : workers_) {
        if (w.handshake && !w.finished) return false;
      }
      return true;
    });
  }
  {
    std::lock_guard lock(queueLock_);
    if (!loopRunning_) return;
  }
  std::promise<void> done;
  auto finished = done.get_future();
  if (!post([&done] { done.set_value(); })) return;
  finished.wait();
}

void ThreadedDeviceWork::awaitJobs(const Clock& clock, Clock::TimePoint deadline) {
  // Measured on the injected clock, waited for in real steps, as the quit
  // pass waits for a device.
  std::unique_lock lock(workersLock_);
  auto allFinished = [this] {
    for (const Worker& w : workers_) {
      if (!w.finished) return false;
    }
    return true;
  };
  while (!allFinished() && clock.now() < deadline) workerFinished_.wait_for(lock, kWaitStep);
  reapWorkersLocked();
}

bool ThreadedDeviceWork::jobsLeft() {
  std::lock_guard lock(workersLock_);
  reapWorkersLocked();
  return !workers_.empty();
}

}  // namespace velt
