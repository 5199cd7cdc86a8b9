// A serial queue on a thread of its own: tasks run one at a time, in the
// order they were posted. The thread is named after the queue's label (cut to
// the 15 characters a thread name can hold).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/delayed_tasks.h"

namespace velt {

class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  // Runs the tasks already queued, then joins the thread.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void post(std::function<void()> task);
  const std::string& label() const { return label_; }
  // True when called from a task of this queue.
  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void run();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

// DelayedTasks on one background thread, "velt timers", that keeps the jobs
// in due order: the one way the agent schedules work for later. It sleeps
// while no job is due.
class TimerThread : public DelayedTasks {
 public:
  explicit TimerThread(Clock& clock = systemClock());
  ~TimerThread() override;
  void runAfter(std::string_view label, Clock::Duration delay, std::function<void()> task) override;
  // Runs the jobs already due and ends the thread; drops the jobs not yet
  // due, and those asked for later.
  void stop();

 private:
  struct Job {
    Clock::TimePoint due;
    uint64_t order;
    std::function<void()> task;
  };
  void run();

  Clock& clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;  // sorted by (due, order)
  uint64_t nextOrder_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

// Names the calling thread; the name is cut to 15 characters.
void nameCurrentThread(const std::string& name);

}  // namespace velt
