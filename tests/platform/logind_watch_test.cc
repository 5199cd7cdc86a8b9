// The login-manager watch against python-dbusmock's logind on a private bus:
// the real QtDBus client, the real protocol, a stand-in logind.
#include "platform/session/logind_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>

#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::processEventsUntil;

struct RecordedEvents : SessionEvents {
  int resumes = 0;
  std::vector<bool> changes;
  void resumed() override { ++resumes; }
  void sessionActiveChanged(bool active) override { changes.push_back(active); }
};

const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/c1");

class LogindWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString python = QStringLiteral("/usr/bin/python3");
    const bool haveMock = QProcess::execute(python, {"-c", "import dbusmock"}) == 0 &&
                          !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
    if (!haveMock) {
      if (std::getenv("CI")) FAIL() << "python3-dbusmock and dbus-daemon are needed";
      GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
    }
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {"--session", "--nofork", "--print-address=1", "--nopidfile"});
    ASSERT_TRUE(daemon_.waitForReadyRead(10000));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    bus_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(address_, QStringLiteral("logind-test")));
    ASSERT_TRUE(bus_->isConnected());
    startLogind(true);
  }

  void TearDown() override {
    logind_.kill();
    logind_.waitForFinished();
    bus_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("logind-test"));
    daemon_.kill();
    daemon_.waitForFinished();
  }

  // The stand-in logind, with the agent's session c1 there before it answers
  // anything.
  // display: whether c1 is the user's display session (it is seat0's active
  // one either way); it belongs to this process's user.
  void startLogind(bool active, bool display = true) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    logind_.setProcessEnvironment(env);
    const QString templ = QStringLiteral(VELT_SOURCE_DIR "/tests/platform/logind_with_session.py");
    const QString parameters = QStringLiteral("{\"active\": %1, \"display\": %2, \"uid\": %3}")
                                   .arg(active ? "true" : "false", display ? "true" : "false")
                                   .arg(getuid());
    logind_.start(QStringLiteral("/usr/bin/python3"),
                  {"-m", "dbusmock", "--session", "--template", templ, "-p", parameters});
    ASSERT_TRUE(processEventsUntil(
        [&] {
          return bus_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1"));
        },
        10000));
  }

  void mock(const QString& path, const QString& method, const QVariantList& args) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), path,
                                       QStringLiteral("org.freedesktop.DBus.Mock"), method);
    call.setArguments(args);
    QDBusMessage reply = bus_->call(call);
    ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
  }

  void setActive(bool active) {
    mock(kSessionPath, "UpdateProperties",
         {QStringLiteral("org.freedesktop.login1.Session"),
          QVariantMap{{QStringLiteral("Active"), active}}});
  }

  void emitPrepareForSleep(bool starting) {
    mock("/org/freedesktop/login1", "EmitSignal",
         {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
          QStringLiteral("b"), QVariantList{starting}});
  }

  QProcess daemon_;
  QProcess logind_;
  QString address_;
  std::unique_ptr<QDBusConnection> bus_;
  RecordedEvents events_;
  testing::CaptureLog log_;
};

TEST_F(LogindWatchTest, SessionSwitchesAndWakingUp) {
  LogindWatch watch(events_, *bus_, QStringLiteral("c1"));
  watch.start();
  ASSERT_TRUE(processEventsUntil([&] { return watch.sessionActive().has_value(); }));
  EXPECT_TRUE(events_.changes.empty()) << "starting in the active session is no change";

  // Going to sleep is no news (logind's next signal tells it was heard);
  // waking is.
  emitPrepareForSleep(true);
  setActive(false);
  ASSERT_TRUE(processEventsUntil([&] { return events_.changes.size() == 1; }));
  EXPECT_EQ(events_.resumes, 0);
  setActive(false);
  setActive(true);
  ASSERT_TRUE(processEventsUntil([&] { return events_.changes.size() == 2; }));
  EXPECT_EQ(events_.changes, (std::vector<bool>{false, true}));
  emitPrepareForSleep(false);
  ASSERT_TRUE(processEventsUntil([&] { return events_.resumes == 1; }));
}

TEST_F(LogindWatchTest, ALoginManagerThatRestartsIsFollowedAgain) {
  LogindWatch watch(events_, *bus_, QStringLiteral("c1"));
  watch.start();
  ASSERT_TRUE(processEventsUntil([&] { return watch.sessionActive().has_value(); }));

  logind_.kill();
  logind_.waitForFinished();
  ASSERT_TRUE(processEventsUntil([&] { return log_.count("login manager left") == 1; }));
  // It comes back with the session switched away meanwhile.
  startLogind(false);
  ASSERT_TRUE(processEventsUntil([&] { return events_.changes == std::vector<bool>{false}; }));
  emitPrepareForSleep(false);
  ASSERT_TRUE(processEventsUntil([&] { return events_.resumes == 1; }));
}

// Started by the user's service manager, the agent is in no session of its
// own: it follows its user's graphical session.
TEST_F(LogindWatchTest, AnAgentOutsideAnySessionFollowsItsUsersSessionOnTheSeat) {
  for (bool display : {true, false}) {
    logind_.kill();
    logind_.waitForFinished();
    startLogind(true, display);
    events_.changes.clear();
    LogindWatch watch(events_, *bus_, QString());
    watch.start();
    ASSERT_TRUE(processEventsUntil([&] { return watch.sessionActive().has_value(); }))
        << (display ? "through User.Display" : "through seat0's active session");
    setActive(false);
    ASSERT_TRUE(processEventsUntil([&] { return events_.changes == std::vector<bool>{false}; }));
  }
}

TEST_F(LogindWatchTest, WithoutABusOrASessionOneLineSaysSo) {
  QDBusConnection none = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=/nonexistent/velt-bus"), QStringLiteral("no-bus"));
  LogindWatch lonely(events_, none, QString());
  lonely.start();
  EXPECT_EQ(log_.count("login manager: no system bus"), 1u);

  LogindWatch stranger(events_, *bus_, QStringLiteral("nobody"));
  stranger.start();
  ASSERT_TRUE(processEventsUntil([&] { return log_.count("cannot tell whether") == 1; }));
  emitPrepareForSleep(false);
  ASSERT_TRUE(processEventsUntil([&] { return events_.resumes == 1; }))
      << "waking is still noticed";
  QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

}  // namespace
}  // namespace velt
