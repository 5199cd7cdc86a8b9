#include "device/device_work.h"

#include <future>

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
  listener_ = std::thread([open = std::move(open), listen = std::move(listen)] {
    nameCurrentThread("quorinAgentUSBListen");
    if (open()) listen();
  });
}

void ThreadedDeviceWork::joinListener() {
  if (listener_.joinable()) listener_.join();
}

void ThreadedDeviceWork::openQueue() {
  std::lock_guard lock(queueLock_);
  queue_ = std::make_unique<SerialQueue>("quorinAgentUSBIdent");
}

bool ThreadedDeviceWork::post(std::function<void()> task) {
  std::lock_guard lock(queueLock_);
  if (!queue_) return false;
  queue_->post(std::move(task));
  return true;
}

void ThreadedDeviceWork::closeQueue() {
  std::unique_ptr<SerialQueue> queue;
  {
    std::lock_guard lock(queueLock_);
    queue = std::move(queue_);
  }
  queue.reset();  // runs the tasks already queued, then joins
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
