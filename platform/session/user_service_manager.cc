#include "platform/session/user_service_manager.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/log.h"

extern char** environ;

namespace velt {
namespace {

// systemctl answers at once; one that hangs (a user instance that is
// shutting down) must not hold up the agent's start for long.
constexpr auto kPatience = std::chrono::seconds(5);

}  // namespace

int runQuietly(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&files, fd, "/dev/null",
                                     fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) return -1;
  const auto end = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 || std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

bool SystemctlUserManager::runsGraphicalSession() {
  return runQuietly({"systemctl", "--user", "--quiet", "is-active", "graphical-session.target"}) ==
         0;
}

bool SystemctlUserManager::enable(std::string_view unit) {
  if (runQuietly({"systemctl", "--user", "--quiet", "enable", std::string(unit)}) == 0) {
    return true;
  }
  logFormat("auto run: systemctl --user enable %s failed; the autostart entry starts the agent",
            std::string(unit).c_str());
  return false;
}

bool SystemctlUserManager::disable(std::string_view unit) {
  return runQuietly({"systemctl", "--user", "--quiet", "disable", std::string(unit)}) == 0;
}

}  // namespace velt
