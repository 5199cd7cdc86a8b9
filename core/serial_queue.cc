#include "core/serial_queue.h"

#include <pthread.h>

#include <algorithm>

#include "core/log.h"

namespace velt {

void nameCurrentThread(const std::string& name) {
#if defined(__GLIBC__)
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
#else
  (void)name;
#endif
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  thread_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SerialQueue::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void SerialQueue::run() {
  nameCurrentThread(label_);
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

TimerThread::TimerThread(Clock& clock) : clock_(clock) {
  thread_ = std::thread([this] { run(); });
}

TimerThread::~TimerThread() {
  stop();
}

void TimerThread::stop() {
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      stopping_ = true;
      const auto now = clock_.now();
      std::erase_if(jobs_, [now](const Job& job) { return job.due > now; });
    }
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TimerThread::runAfter(std::string_view label, Clock::Duration delay,
                           std::function<void()> task) {
  logDebug("delayed task \"%.*s\" in %lld us", static_cast<int>(label.size()), label.data(),
           static_cast<long long>(delay.count() / 1000));
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    Job job{clock_.now() + delay, nextOrder_++, std::move(task)};
    auto at = std::upper_bound(jobs_.begin(), jobs_.end(), job, [](const Job& a, const Job& b) {
      return a.due < b.due || (a.due == b.due && a.order < b.order);
    });
    jobs_.insert(at, std::move(job));
  }
  wake_.notify_all();
}

void TimerThread::run() {
  nameCurrentThread("velt timers");
  std::unique_lock lock(mutex_);
  for (;;) {
    if (jobs_.empty()) {
      if (stopping_) return;
      wake_.wait(lock);
      continue;
    }
    auto due = jobs_.front().due;
    if (clock_.now() < due) {
      clock_.waitUntil(wake_, lock, due);
      continue;
    }
    auto task = std::move(jobs_.front().task);
    jobs_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace velt
