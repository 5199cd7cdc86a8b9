// The input thread: reads every grabbed mouse node, runs its frames through
// the taps and writes what they let through to the mouse's clone. It never
// waits for the main thread, so the pointer keeps moving whatever the
// interface is doing.
#pragma once

#include <linux/input.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "overlay/pointer_taps.h"
#include "platform/input/evdev_frame_filter.h"
#include "platform/system/unique_fd.h"

namespace velt {

// A grabbed input node, as the input thread reads it.
class InputSource {
 public:
  virtual ~InputSource() = default;
  virtual int fd() const = 0;
  // Appends the events that can be read now; false once the node has gone.
  // A SYN_DROPPED event means the kernel dropped events: the frame in
  // progress is incomplete, and what follows brings the state up to date.
  virtual bool read(std::vector<input_event>& events) = 0;
  // The mouse's resolution in counts per inch; 0 when unknown.
  virtual int dotsPerInch() const { return 0; }
};

// Where a node's events go on to the system: its clone.
class InputSink {
 public:
  virtual ~InputSink() = default;
  // Writes whole frames; false when they could not be written.
  virtual bool write(std::span<const input_event> events) = 0;
};

class InputLoop {
 public:
  explicit InputLoop(PointerTaps& taps);
  // Stops the thread, letting every node go.
  ~InputLoop();
  InputLoop(const InputLoop&) = delete;
  InputLoop& operator=(const InputLoop&) = delete;

  // Starts the input thread; false, with a log line, when it cannot.
  bool start();
  // Lets every node go and ends the thread for good.
  void stop();
  // Runs task on the input thread; dropped once the loop has stopped. Any
  // thread, as long as the loop exists.
  void post(std::function<void()> task);
  // The same, but a task posted under topic replaces the one of that topic
  // still waiting, in its place: a burst of changes that each call for the
  // same work (a rescan) gets it once, and the nodes are read in between.
  void postReplacing(std::string_view topic, std::function<void()> task);

  // The rest: input thread only.

  // Starts reading source; what the taps let through goes to sink. label
  // names the node in log lines.
  void addNode(const std::string& key, const std::string& label,
               std::unique_ptr<InputSource> source, std::unique_ptr<InputSink> sink);
  // Releases what the node's clone holds down, then drops the clone and the
  // node.
  void removeNode(const std::string& key);
  bool hasNode(const std::string& key) const { return nodes_.count(key) != 0; }
  std::vector<std::string> nodeKeys() const;
  // Calls onReadable whenever fd has something to read.
  void watch(int fd, std::function<void()> onReadable);
  // Called with the key of a node that went away by itself (unplugged),
  // after the node has been let go.
  void setNodeGoneHandler(std::function<void(const std::string&)> handler) {
    nodeGone_ = std::move(handler);
  }

 private:
  struct Node;
  void run();
  void runPosted();
  void readNode(Node& node);
  void wake();

  PointerTaps& taps_;
  // Made with the loop and closed only when it goes, so any thread may wake
  // it at any time.
  const UniqueFd epoll_;
  const UniqueFd wake_;
  int setupError_ = 0;
  std::thread thread_;

  std::mutex mutex_;
  struct Posted {
    std::string topic;  // empty: never replaced
    std::function<void()> task;
  };
  std::deque<Posted> posted_;
  bool stopping_ = false;

  // Input thread only.
  std::map<std::string, std::unique_ptr<Node>> nodes_;
  std::map<uint64_t, std::string> nodeTags_;
  std::map<uint64_t, std::function<void()>> watched_;
  uint64_t nextTag_ = 1;
  std::function<void(const std::string&)> nodeGone_;
};

}  // namespace velt
