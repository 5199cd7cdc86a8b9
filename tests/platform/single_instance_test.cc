#include "platform/process/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTimer>
#include <QtGlobal>
#include <cstring>
#include <map>
#include <thread>

#include "platform/process/file_locations.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(SingleInstance, LockIsFreedWithItsHolderAndStaleSocketsGo) {
  testing::TempDir dir;
  {
    SingleInstance first(dir.path(), "agent");
    ASSERT_TRUE(first.acquire());
  }
  EXPECT_FALSE(fs::exists(dir / "agent.lock"));
  testing::writeFile(dir / "agent.socket", "left behind");
  SingleInstance again(dir.path(), "agent");
  EXPECT_TRUE(again.acquire());
  EXPECT_TRUE(fs::is_socket(dir / "agent.socket"));
  SingleInstance second(dir.path(), "agent");
  EXPECT_FALSE(second.acquireLock());
  EXPECT_TRUE(second.heldByAnotherCopy());
  // Released by a holder that goes on living: the files go first.
  again.release();
  EXPECT_FALSE(fs::exists(dir / "agent.socket"));
  EXPECT_FALSE(fs::exists(dir / "agent.lock"));
  EXPECT_TRUE(second.acquireLock());

  // Nobody to ask: the second copy gives up quietly.
  testing::TempDir empty;
  SingleInstance lonely(empty.path(), "agent");
  EXPECT_FALSE(lonely.askRunningCopyToReopen(100));
  EXPECT_EQ(askRunningCopy(lonely.socketPath(), "show", 100).status,
            InstanceReply::Status::NoAgent);
}

// Two agents of one user must never run at once, and another user must not
// be able to make one give up: without a lock of its own, the agent does not
// start.
TEST(SingleInstance, NoLockThatIsTheUsersOwnMeansNoStart) {
  testing::TempDir dir;
  fs::create_directories(dir / "open");
  fs::permissions(dir / "open", fs::perms::all);
  fs::create_directories(dir / "linked");
  fs::create_symlink(dir / "elsewhere", dir / "linked/agent.lock");
  fs::create_directory_symlink(dir / "open", dir / "folder-link");
  std::vector<fs::path> folders = {"/nonexistent/velt", dir / "open", dir / "linked",
                                   dir / "folder-link"};
  if (geteuid() == 0) {
    fs::create_directories(dir / "theirs");
    ASSERT_EQ(chown((dir / "theirs").c_str(), 65534, 65534), 0);
    folders.push_back(dir / "theirs");
  }
  for (const auto& folder : folders) {
    SCOPED_TRACE(folder);
    testing::CaptureLog log;
    SingleInstance instance(folder, "agent");
    EXPECT_FALSE(instance.acquire());
    EXPECT_FALSE(instance.heldByAnotherCopy());
    EXPECT_EQ(log.count("not starting"), 1u);
  }
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));

  // Without a runtime folder of the user's own, one in the temporary folder
  // with the user's id in its name; without HOME, the password database's.
  std::map<const char*, QByteArray> saved;
  for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) saved[name] = qgetenv(name);
  qputenv("TMPDIR", dir.path().c_str());
  qputenv("XDG_RUNTIME_DIR", (dir / "open").c_str());
  qunsetenv("HOME");
  const FileLocations where = findFileLocations();
  for (const auto& [name, value] : saved) value.isNull() ? qunsetenv(name) : qputenv(name, value);
  EXPECT_EQ(where.runtimeDir, dir / ("velt-mouse-assistant-" + std::to_string(geteuid())));
  EXPECT_EQ(where.settingsFolder,
            fs::path(getpwuid(geteuid())->pw_dir) / "Documents/quorin.driver.velt");
  SingleInstance instance(where.runtimeDir, "agent");
  EXPECT_TRUE(instance.acquire());
  EXPECT_EQ(fs::status(where.runtimeDir).permissions(), fs::perms::owner_all);
}

// What the agent sends until it closes the connection; "(still open)" after
// it when it then stays silent for quietMs (the first word may take 5 s).
std::string readToEnd(int fd, int quietMs) {
  std::string got;
  char buffer[256];
  pollfd wait{fd, POLLIN, 0};
  for (;;) {
    if (poll(&wait, 1, got.empty() ? std::max(quietMs, 5000) : quietMs) != 1) {
      return got + "(still open)";
    }
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<size_t>(n));
  }
}

// Runs clients on a thread of their own while the agent's loop runs here.
void whileServing(const std::function<void()>& clients) {
  std::atomic<bool> done{false};
  std::thread thread([&] {
    clients();
    done = true;
  });
  EXPECT_TRUE(testing::processEventsUntil([&] { return done.load(); }, 60000));
  thread.join();
}

constexpr std::string_view kTooLong = "refused the request is longer than 256 bytes\n";

struct Agent {
  testing::TempDir dir;
  SingleInstance instance{dir.path(), "agent"};
  std::vector<std::string> heard;
  // A client is let go for idling only where a test means it to be: on a
  // busy machine a client may take its time between connecting and writing.
  Agent() {
    EXPECT_TRUE(instance.acquire());
    instance.setIdleTimeout(1min);
    instance.setLastingRequests({"quit"});
    instance.setRequestHandler([this](const std::string& request, SingleInstance::Reply reply) {
      heard.push_back(request);
      reply("ok");
      reply("a second answer is dropped");
    });
  }
  // A raw client, connected, that has said what it says.
  int client(std::string_view says) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, instance.socketPath().c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(write(fd, says.data(), says.size()), static_cast<ssize_t>(says.size()));
    return fd;
  }
  std::string ask(std::string_view says) {
    int fd = client(says);
    std::string got = readToEnd(fd, 5000);
    close(fd);
    return got;
  }
};

TEST(SingleInstance, OneAnsweredLineEachLongLinesRefusedIdleClientsLetGo) {
  Agent agent;
  int lasting = -1;
  whileServing([&] {
    EXPECT_EQ(agent.ask("show\n"), "ok\n");
    EXPECT_EQ(agent.ask(std::string(300, 'x') + "\n"), kTooLong);
    lasting = agent.client("quit\n");
    EXPECT_EQ(readToEnd(lasting, 300), "ok\n(still open)");
  });
  agent.instance.setIdleTimeout(100ms);
  whileServing([&] { EXPECT_EQ(agent.ask("sh"), ""); });  // never finished: let go
  EXPECT_EQ(agent.heard, (std::vector<std::string>{"show", "quit"}));
  agent.instance.release();
  EXPECT_EQ(readToEnd(lasting, 5000), "");
  close(lasting);
}

// Many clients that say nothing, clients that send megabytes without a line
// end, and long lines: the agent stays within its limits and answers a
// client that asks properly.
TEST(SingleInstance, HostileClientsLeaveRoomForAGoodOne) {
  Agent agent;
  size_t mostClients = 0;
  QTimer sample;
  sample.callOnTimeout([&] { mostClients = std::max(mostClients, agent.instance.clientCount()); });
  sample.start(1);
  std::vector<int> silent, floods;
  whileServing([&] {
    for (int i = 0; i < 60; ++i) silent.push_back(agent.client(""));
    const std::string garbage(1 << 16, 'g');
    for (int i = 0; i < 4; ++i) {
      floods.push_back(agent.client(""));
      fcntl(floods.back(), F_SETFL, O_NONBLOCK);
      for (int k = 0; k < 16; ++k)
        send(floods.back(), garbage.data(), garbage.size(), MSG_NOSIGNAL);
    }
    for (int i = 0; i < 20; ++i) agent.ask(std::string(1000, 'l') + "\n");
    EXPECT_EQ(askRunningCopy(agent.instance.socketPath(), "show", 5000).answer, "ok");
    for (int fd : floods) EXPECT_EQ(readToEnd(fd, 5000), kTooLong);
    EXPECT_EQ(readToEnd(silent.front(), 5000), "") << "the oldest made room";
  });
  for (int fd : silent) close(fd);
  for (int fd : floods) close(fd);
  EXPECT_LE(mostClients, 16u);
  EXPECT_TRUE(testing::processEventsUntil([&] { return agent.instance.clientCount() == 0; }));
  EXPECT_EQ(agent.heard, std::vector<std::string>{"show"});
}

TEST(SingleInstance, AnswersRequestsOfItsOwnUserOnly) {
  Agent agent;
  InstanceReply reply;
  whileServing([&] { reply = askRunningCopy(agent.instance.socketPath(), "run 13", 5000); });
  EXPECT_EQ(agent.heard, std::vector<std::string>{"run 13"});
  EXPECT_EQ(reply.status, InstanceReply::Status::Answered);
  EXPECT_EQ(reply.answer, "ok");

  // The socket file is the user's alone; where it is open to others as
  // well, the kernel's word on who connected still keeps them out.
  if (geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
  testing::CaptureLog log;
  fs::permissions(agent.dir.path(), fs::perms::all);
  fs::permissions(agent.instance.socketPath(), fs::perms::all);
  ASSERT_EQ(seteuid(65534), 0);
  const int stranger = agent.client("show\n");  // before the agent looks
  ASSERT_EQ(seteuid(0), 0);
  EXPECT_TRUE(testing::processEventsUntil(
      [&] { return log.count("refused a request from user 65534") == 1; }));
  EXPECT_EQ(readToEnd(stranger, 5000), "");
  close(stranger);
  EXPECT_EQ(agent.heard.size(), 1u);
}

}  // namespace
}  // namespace velt
