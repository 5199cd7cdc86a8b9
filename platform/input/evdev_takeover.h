// The event taps on Linux: for every registered supported mouse, its pointer
// nodes under /dev/input are grabbed and read on the input thread, and what
// the taps let through goes on through a virtual copy of the mouse (a uinput
// device with the mouse's name, ids and properties, so pointer speed,
// acceleration and high-resolution scrolling stay as they were).
//
// Virtual input devices are never taken over: they live under
// /sys/devices/virtual/input, which is also where our copies appear. A node
// another program holds is left to it. When a mouse leaves, its copy leaves
// with it and nothing stays pressed.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/delayed_tasks.h"
#include "core/device_events.h"
#include "core/overlay_control.h"
#include "overlay/pointer_taps.h"
#include "platform/input/input_loop.h"
#include "platform/system/udev_handles.h"

namespace velt {

class EvdevTakeover : public EventTaps, public RegistryObserver {
 public:
  // timers brings back a mouse that had a button down at takeover time.
  EvdevTakeover(PointerTaps& taps, DelayedTasks& timers);
  ~EvdevTakeover() override;

  // Starts the input thread and the watch on input nodes. False only when
  // the input thread cannot run; missing permissions or a missing uinput
  // leave the mice to the system, with a log line.
  bool createEventTaps() override;
  // From now on, takes over the nodes of exactly these mice. Any thread.
  void registeredDevicesChanged(const std::vector<UsbId>& devices) override;
  void setTakingOver(bool takeOver) override;
  // Lets every mouse go; the system reads them directly again.
  void stop();

 private:
  void startWatching();
  void onMonitorEvent();
  void rescan();
  void consider(udev_device* device);
  // dotsPerInch: the mouse's resolution from udev's hardware database, 0
  // when it has none.
  void takeOver(const std::string& node, const std::string& name, UsbId id, int dotsPerInch);
  bool registered(UsbId id) const;
  // Logs a failure about a node once, until the node goes away.
  void reportOnce(const std::string& node, const std::string& kind, const std::string& line);

  InputLoop loop_;
  DelayedTasks& timers_;
  // Shared with the retry jobs on timers_: they reach the loop only while
  // the takeover runs (null after stop).
  struct RetryTarget {
    std::mutex mutex;
    EvdevTakeover* takeover = nullptr;
  };
  std::shared_ptr<RetryTarget> retryTarget_ = std::make_shared<RetryTarget>();
  bool started_ = false;
  // Input thread only.
  UdevPtr udev_;
  UdevMonitorPtr monitor_;
  std::vector<UsbId> registered_;
  bool takingOver_ = true;
  bool retryPending_ = false;  // a second look at the nodes is due
  std::map<std::string, UsbId> nodeIds_;
  std::set<std::string> reported_;
};

}  // namespace velt
