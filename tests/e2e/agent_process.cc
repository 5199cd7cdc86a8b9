#include "tests/e2e/agent_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace velt::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The keys of a settings file, in the order the shipped default lists them.
const char* const kSettingsKeys[] = {
    "spotlightDim", "type1",        "type2",        "type3",        "type4",     "numType0",
    "numType1",     "numType2",     "type1_op1",    "type2_op1",    "type3_op1", "type4_op1",
    "numType0_op1", "numType1_op1", "numType2_op1", "type1_op2",    "type2_op2", "type3_op2",
    "type4_op2",    "numType0_op2", "numType1_op2", "numType2_op2",
};

bool writeSettings(const AgentOptions& options, const std::string& home, std::string* error) {
  const auto& values = options.settings;
  const std::filesystem::path folder =
      std::filesystem::path(home) / "Documents" / "quorin.driver.velt";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::ofstream out(folder / "button.plist");
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n";
  for (const char* key : kSettingsKeys) {
    auto it = values.find(key);
    int value = it != values.end() ? it->second : (std::string(key) == "spotlightDim" ? 310 : 0);
    out << "\t<key>" << key << "</key>\n\t<string>" << value << "</string>\n";
  }
  if (!options.profiles.empty()) out << "\t<key>profiles</key>\n\t<array>\n";
  for (const auto& [application, slots] : options.profiles) {
    out << "\t\t<dict>\n\t\t\t<key>application</key><string>" << application << "</string>\n";
    for (const auto& [key, value] : slots) {
      out << "\t\t\t<key>" << key << "</key><string>" << value << "</string>\n";
    }
    out << "\t\t</dict>\n";
  }
  if (!options.profiles.empty()) out << "\t</array>\n";
  out << "</dict>\n</plist>\n";
  out.close();
  if (!out) {
    *error = "cannot write " + (folder / "button.plist").string();
    return false;
  }
  return true;
}

}  // namespace

std::string AgentProcess::homeOf(unsigned user) {
  const char* home = std::getenv("HOME");
  return user == 0 ? std::string(home ? home : "/root") : "/home/" + std::to_string(user);
}

std::string AgentProcess::runtimeDirOf(unsigned user) {
  return "/run/user/" + std::to_string(user);
}

std::unique_ptr<AgentProcess> AgentProcess::start(const AgentOptions& options, std::string* error) {
  const std::string home = homeOf(options.user), runtime = runtimeDirOf(options.user);
  std::error_code ec;
  std::filesystem::create_directories(runtime, ec);
  if (!writeSettings(options, home, error)) return nullptr;
  if (options.user != 0) {
    const std::string owned = "chown -R " + std::to_string(options.user) + " " + home + " " +
                              runtime + " && chmod 700 " + runtime;
    if (std::system(owned.c_str()) != 0) {
      *error = "cannot give " + home + " to user " + std::to_string(options.user);
      return nullptr;
    }
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    *error = "fork failed";
    return nullptr;
  }
  if (pid == 0) {
    // The agent's own output goes to a file; its log lines go to syslog.
    int out = ::open("/tmp/agent.out", O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
      ::close(out);
    }
    ::setenv("QT_QPA_PLATFORM", options.platform.c_str(), 1);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("VELT_DEBUG", "1", 1);
    for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
    if (options.user != 0 && (::setgid(options.user) != 0 || ::setuid(options.user) != 0)) {
      ::_exit(126);
    }
    ::execlp("velt-mouse-assistant", "velt-mouse-assistant", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return std::unique_ptr<AgentProcess>(new AgentProcess(pid));
}

AgentProcess::~AgentProcess() {
  if (!ended_) {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

void AgentProcess::reap(int status) {
  ended_ = true;
  if (WIFEXITED(status)) {
    exitStatus_ = WEXITSTATUS(status);
    ending_ = "exit status " + std::to_string(exitStatus_);
  } else if (WIFSIGNALED(status)) {
    ending_ = "signal " + std::to_string(WTERMSIG(status));
  }
}

bool AgentProcess::running() {
  if (ended_) return false;
  int status;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) reap(status);
  return !ended_;
}

std::optional<int> AgentProcess::terminate(milliseconds timeout) {
  if (!running()) return std::nullopt;
  ::kill(pid_, SIGTERM);
  auto status = waitForExit(timeout);
  if (!ended_ || exitStatus_ < 0) ending_ += " after SIGTERM";
  return status;
}

std::optional<int> AgentProcess::waitForExit(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (running()) {
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
      reap(status);
      ending_ = "no end within " + std::to_string(timeout.count()) + " ms";
      return std::nullopt;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  if (exitStatus_ < 0) return std::nullopt;
  return exitStatus_;
}

std::optional<std::string> AgentProcess::waitForDevice(const char* name, milliseconds timeout) {
  std::optional<std::string> node;
  waitFor(
      [&] {
        auto nodes = eventNodesNamed(name);
        if (!nodes.empty()) node = nodes.front();
        return node || !running();
      },
      timeout);
  return node;
}

std::optional<RunningAgent> startWithDevices(Markers& markers, const AgentOptions& options) {
  std::string error;
  RunningAgent agent{AgentProcess::start(options, &error), nullptr, nullptr};
  if (!markers.check(agent.process != nullptr, "agent started", error)) return std::nullopt;
  auto keyboard = agent.process->waitForDevice(kAgentKeyboard, std::chrono::seconds(60));
  auto pointer = agent.process->waitForDevice(kAgentPointer, std::chrono::seconds(10));
  if (!markers.check(keyboard && pointer, "agent created its uinput devices",
                     agent.process->running() ? "no such event node" : agent.process->ending())) {
    return std::nullopt;
  }
  agent.keyboard = std::make_unique<EventReader>(*keyboard);
  agent.pointer = std::make_unique<EventReader>(*pointer);
  return agent;
}

std::pair<int, std::string> runAgentCommand(unsigned user, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "velt-mouse-assistant");
  return ChildProcess(arguments, user,
                      {{"HOME", AgentProcess::homeOf(user)},
                       {"XDG_RUNTIME_DIR", AgentProcess::runtimeDirOf(user)}})
      .finish();
}

void AgentProcess::showLog() {
  std::fflush(stdout);
  std::system("echo '---- the agent log'; tail -n 120 /tmp/agent.log; cat /tmp/agent.out");
}

int AgentProcess::openFileDescriptors() const {
  int count = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++count;
  }
  return count;
}

long AgentProcess::residentKilobytes() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

}  // namespace velt::e2e
