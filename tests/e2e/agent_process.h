// The agent as a process inside the test guest: a prepared settings file,
// start-up on the offscreen platform, its uinput devices, its resource use,
// and the way out through SIGTERM.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/guest_support.h"

namespace velt::e2e {

inline constexpr const char* kAgentKeyboard = "VELT Mouse Assistant virtual keyboard";
inline constexpr const char* kAgentPointer = "VELT Mouse Assistant virtual pointer";

// How to start the agent.
struct AgentOptions {
  std::map<std::string, int> settings;  // button.plist's keys (the rest 0)
  // The profiles by application id, each with the slot keys it sets.
  std::map<std::string, std::map<std::string, int>> profiles;
  std::string platform = "offscreen";  // QT_QPA_PLATFORM
  // Set in the agent's environment, after HOME, XDG_RUNTIME_DIR and
  // VELT_DEBUG=1.
  std::vector<std::pair<std::string, std::string>> environment;
  // Another user than root: the agent runs as this uid, with its home in
  // /home/<uid> and its runtime folder in /run/user/<uid>, both made here.
  unsigned user = 0;
};

class AgentProcess {
 public:
  // Writes button.plist with the options' keys (the rest 0) and profiles
  // into the documents folder of the user's home, then starts velt-mouse-assistant.
  static std::unique_ptr<AgentProcess> start(const AgentOptions& options, std::string* error);
  // Kills the agent if it still runs.
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The home and runtime folders it was given.
  static std::string homeOf(unsigned user);
  static std::string runtimeDirOf(unsigned user);
  // True while the process has not ended.
  bool running();
  // How it ended, as "exit status 0" or "signal 11", once it has.
  const std::string& ending() const { return ending_; }
  // Sends SIGTERM and waits; the exit status, or nullopt when it did not end
  // normally within timeout (it is then killed).
  std::optional<int> terminate(std::chrono::milliseconds timeout);
  // Waits for the agent to end by itself; as terminate.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

  // Waits until the agent's virtual device of this name has an event node.
  std::optional<std::string> waitForDevice(const char* name, std::chrono::milliseconds timeout);

  // Prints the end of the agent's log (syslogd writes it to /tmp/agent.log)
  // and its own output, to tell why a check failed.
  static void showLog();

  // Open file descriptors and resident memory (kB), from /proc.
  int openFileDescriptors() const;
  long residentKilobytes() const;

 private:
  explicit AgentProcess(pid_t pid) : pid_(pid) {}
  void reap(int status);

  pid_t pid_;
  bool ended_ = false;
  int exitStatus_ = -1;
  std::string ending_;
};

// The agent with readers on its uinput keyboard and pointer.
struct RunningAgent {
  std::unique_ptr<AgentProcess> process;
  std::unique_ptr<EventReader> keyboard;
  std::unique_ptr<EventReader> pointer;
};
// Starts the agent and waits for its uinput devices; nullopt, with a failure
// marker, when it does not start or they do not appear.
std::optional<RunningAgent> startWithDevices(Markers& markers, const AgentOptions& options);

// The agent's command line as user, with that user's folders: its exit
// status and what it printed.
std::pair<int, std::string> runAgentCommand(unsigned user, std::vector<std::string> arguments);

}  // namespace velt::e2e
