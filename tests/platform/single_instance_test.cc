#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

TEST(SingleInstance, LockIsFreedWithItsHolderAndStaleSocketsGo) {
  testing::TempDir dir;
  {
    SingleInstance first(dir.path(), "agent");
    ASSERT_TRUE(first.acquire());
  }
  testing::writeFile(dir / "agent.socket", "left behind");
  SingleInstance again(dir.path(), "agent");
  EXPECT_TRUE(again.acquire());
  EXPECT_TRUE(fs::is_socket(dir / "agent.socket"));

  // Nobody to ask: the second copy gives up quietly.
  testing::TempDir empty;
  SingleInstance lonely(empty.path(), "agent");
  EXPECT_FALSE(lonely.askRunningCopyToReopen(100));
  EXPECT_EQ(askRunningCopy(lonely.socketPath(), "show", 100).status,
            InstanceReply::Status::NoAgent);
}

TEST(SingleInstance, NoRuntimeFolderStillRuns) {
  testing::CaptureLog log;
  SingleInstance instance("/nonexistent/velt", "agent");
  EXPECT_TRUE(instance.acquire());
  EXPECT_EQ(log.count("/nonexistent/velt/agent.lock"), 1u);
}

// Connects as user, sends a request and reads until the end: what came back.
std::string requestAs(uid_t user, const fs::path& socketPath) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    if (setgid(user) != 0 || setuid(user) != 0) _exit(3);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(4);
    if (write(fd, "show\n", 5) != 5) _exit(5);
    char buffer[64];
    pollfd wait{fd, POLLIN, 0};
    while (poll(&wait, 1, 5000) == 1) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      if (write(pipeFds[1], buffer, static_cast<size_t>(n)) != n) break;
    }
    _exit(0);
  }
  close(pipeFds[1]);
  int status = 0;
  testing::processEventsUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 10000);
  std::string answer;
  char buffer[64];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  close(pipeFds[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0
             ? answer
             : "child ended with " + std::to_string(status);
}

TEST(SingleInstance, AnswersRequestsOfItsOwnUserOnly) {
  testing::TempDir dir;
  SingleInstance agent(dir.path(), "agent");
  ASSERT_TRUE(agent.acquire());
  std::vector<std::string> heard;
  agent.setRequestHandler([&](const std::string& request, SingleInstance::Reply reply) {
    heard.push_back(request);
    reply("ok");
    reply("a second answer is dropped");
  });
  InstanceReply reply;
  std::thread client([&] { reply = askRunningCopy(agent.socketPath(), "run 13", 5000); });
  EXPECT_TRUE(testing::processEventsUntil([&] { return !heard.empty(); }));
  client.join();
  EXPECT_EQ(heard, std::vector<std::string>{"run 13"});
  EXPECT_EQ(reply.status, InstanceReply::Status::Answered);
  EXPECT_EQ(reply.answer, "ok");

  // The socket file is the user's alone; where the folder is open to others
  // as well, the kernel's word on who connected still keeps them out.
  if (geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
  testing::CaptureLog log;
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(agent.socketPath(), fs::perms::all);
  EXPECT_EQ(requestAs(65534, agent.socketPath()), "");
  EXPECT_EQ(heard.size(), 1u);
  EXPECT_EQ(log.count("refused a request from user 65534"), 1u);
}

}  // namespace
}  // namespace velt
