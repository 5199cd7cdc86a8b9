#include "platform/input/input_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/log.h"
#include "core/serial_queue.h"

namespace velt {
namespace {

constexpr uint64_t kWakeTag = 0;
constexpr int kEventsPerWait = 16;

}  // namespace

struct InputLoop::Node {
  Node(PointerTaps& taps, std::string k, std::string l, std::unique_ptr<InputSource> s,
       std::unique_ptr<InputSink> c)
      : key(std::move(k)),
        label(std::move(l)),
        source(std::move(s)),
        sink(std::move(c)),
        filter(taps, source->dotsPerInch()) {}
  std::string key;
  std::string label;
  uint64_t tag = 0;
  std::unique_ptr<InputSource> source;
  std::unique_ptr<InputSink> sink;
  FrameFilter filter;
  std::vector<input_event> frame;  // events of the frame in progress
};

InputLoop::InputLoop(PointerTaps& taps)
    : taps_(taps),
      epoll_(epoll_create1(EPOLL_CLOEXEC)),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!epoll_.valid() || !wake_.valid()) {
    setupError_ = errno;
    return;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeTag;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &ev) != 0) setupError_ = errno;
}

InputLoop::~InputLoop() {
  stop();
}

bool InputLoop::start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return true;
  if (setupError_ != 0 || stopping_) {
    logFormat("event taps: cannot start the input thread: %s",
              setupError_ != 0 ? strerror(setupError_) : "stopped");
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void InputLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    posted_.clear();
  }
  wake();
  if (thread_.joinable()) thread_.join();
  // Never started, or already stopped: nodes handed over before are let go
  // here.
  while (!nodes_.empty()) removeNode(nodes_.begin()->first);
}

void InputLoop::wake() {
  uint64_t one = 1;
  if (wake_.valid()) (void)!write(wake_.get(), &one, sizeof one);
}

void InputLoop::post(std::function<void()> task) {
  postReplacing({}, std::move(task));
}

void InputLoop::postReplacing(std::string_view topic, std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    if (!topic.empty()) {
      auto waiting = std::find_if(posted_.begin(), posted_.end(),
                                  [&](const Posted& p) { return p.topic == topic; });
      if (waiting != posted_.end()) {
        waiting->task = std::move(task);
        return;
      }
    }
    posted_.push_back({std::string(topic), std::move(task)});
  }
  wake();
}

void InputLoop::addNode(const std::string& key, const std::string& label,
                        std::unique_ptr<InputSource> source, std::unique_ptr<InputSink> sink) {
  if (hasNode(key)) removeNode(key);
  auto node = std::make_unique<Node>(taps_, key, label, std::move(source), std::move(sink));
  node->tag = nextTag_++;
  if (epoll_.valid()) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = node->tag;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, node->source->fd(), &ev) != 0) {
      logFormat("event taps: cannot watch %s: %s", label.c_str(), strerror(errno));
      return;
    }
  }
  nodeTags_[node->tag] = key;
  nodes_[key] = std::move(node);
}

void InputLoop::removeNode(const std::string& key) {
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return;
  Node& node = *it->second;
  std::vector<input_event> release;
  node.filter.releaseAll(release);
  if (!release.empty() && node.sink && !node.sink->write(release)) {
    logFormat("event taps: cannot release the buttons held on the copy of %s: %s",
              node.label.c_str(), strerror(errno));
  }
  if (epoll_.valid() && epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, node.source->fd(), nullptr) != 0) {
    logFormat("event taps: cannot stop watching %s: %s", node.label.c_str(), strerror(errno));
  }
  nodeTags_.erase(node.tag);
  // The clone goes first; then the node is let go and the system reads the
  // mouse directly again.
  node.sink.reset();
  node.source.reset();
  nodes_.erase(it);
}

std::vector<std::string> InputLoop::nodeKeys() const {
  std::vector<std::string> keys;
  for (const auto& [key, node] : nodes_) keys.push_back(key);
  return keys;
}

void InputLoop::watch(int fd, std::function<void()> onReadable) {
  uint64_t tag = nextTag_++;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = tag;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) {
    logFormat("event taps: cannot watch descriptor %d: %s", fd, strerror(errno));
    return;
  }
  watched_[tag] = std::move(onReadable);
}

void InputLoop::readNode(Node& node) {
  std::vector<input_event> events;
  const bool alive = node.source->read(events);
  std::vector<input_event> out;
  for (const input_event& e : events) {
    if (e.type == EV_SYN && e.code == SYN_DROPPED) {
      node.frame.clear();
      continue;
    }
    node.frame.push_back(e);
    if (e.type != EV_SYN || e.code != SYN_REPORT) continue;
    out.clear();
    node.filter.filter(node.frame, out);
    node.frame.clear();
    if (!out.empty() && !node.sink->write(out)) {
      // Without its clone the mouse would be dead; hand it back instead.
      logFormat(
          "event taps: the virtual copy of %s takes no more input; leaving that mouse to "
          "the system",
          node.label.c_str());
      removeNode(node.key);
      return;
    }
  }
  if (alive) return;
  std::string key = node.key;
  logRepeatingFormat("gone " + key, "event taps: %s has gone", node.label.c_str());
  removeNode(key);
  if (nodeGone_) nodeGone_(key);
}

void InputLoop::runPosted() {
  // Each task leaves the queue only as it starts, so that a replacing post
  // still finds one that has not begun; those posted meanwhile wait for the
  // wake their post gave, after the input that came first.
  size_t waiting = 0;
  {
    std::lock_guard lock(mutex_);
    waiting = posted_.size();
  }
  for (; waiting > 0; --waiting) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (posted_.empty()) return;
      task = std::move(posted_.front().task);
      posted_.pop_front();
    }
    task();
  }
}

void InputLoop::run() {
  nameCurrentThread("velt input");
  epoll_event ready[kEventsPerWait];
  for (;;) {
    int n = epoll_wait(epoll_.get(), ready, kEventsPerWait, -1);
    if (n < 0 && errno != EINTR) {
      logFormat("event taps: the input thread stops: %s", strerror(errno));
      break;
    }
    for (int i = 0; i < n; ++i) {
      uint64_t tag = ready[i].data.u64;
      if (tag == kWakeTag) {
        uint64_t count;
        (void)!read(wake_.get(), &count, sizeof count);
        continue;
      }
      if (auto w = watched_.find(tag); w != watched_.end()) {
        w->second();
        continue;
      }
      // The node may have been removed by an earlier event of this round.
      auto t = nodeTags_.find(tag);
      if (t == nodeTags_.end()) continue;
      auto node = nodes_.find(t->second);
      if (node != nodes_.end()) readNode(*node->second);
    }
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    runPosted();
  }
  while (!nodes_.empty()) removeNode(nodes_.begin()->first);
}

}  // namespace velt
