// Whom the agent believes on the session bus, against a private bus: only
// KWin itself reports the pointer and the focused window as KWin, and only
// GNOME Shell itself speaks for the agent's shell extension, whoever takes
// the extension's name.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <thread>

#include "platform/agent_bus.h"
#include "platform/gnome_shell_session.h"
#include "platform/kwin_bridge.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::processEventsUntil;

// A session bus of the tests' own, in place before anything asks for one.
class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {"--session", "--nofork", "--print-address=1", "--nopidfile"});
    if (!daemon_.waitForReadyRead(10000)) return;
    address = QString::fromUtf8(daemon_.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  }
  void TearDown() override {
    daemon_.kill();
    daemon_.waitForFinished();
  }
  static inline QString address;

 private:
  QProcess daemon_;
};
const auto* const bus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

// Another program on the bus: its own connection, the names it owns, and an
// object at /quorin/driver/velt/Shell that tells a pointer position.
class Peer : public QDBusVirtualObject {
 public:
  Peer(const char* name, QPointF pointer)
      : name_(name),
        pointer_(pointer),
        bus_(QDBusConnection::connectToBus(PrivateBus::address, name)) {
    bus_.registerVirtualObject(QStringLiteral("/quorin/driver/velt/Shell"), this);
  }
  ~Peer() override {
    bus_.unregisterObject(QStringLiteral("/quorin/driver/velt/Shell"));
    QDBusConnection::disconnectFromBus(name_);
  }
  bool own(const QString& name) {
    return bus_.interface()
               ->registerService(name, QDBusConnectionInterface::DontQueueService)
               .value() == QDBusConnectionInterface::ServiceRegistered;
  }
  void release(const QString& name) { bus_.interface()->unregisterService(name); }
  // Calls the agent and waits for its answer (none when it sends none).
  void call(const QString& path, const QString& interface, const QString& method,
            const QVariantList& arguments) {
    auto message = QDBusMessage::createMethodCall(QDBusConnection::sessionBus().baseService(), path,
                                                  interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = bus_.asyncCall(message, 2000);
    processEventsUntil([&] { return pending.isFinished(); });
  }
  void tellFocus(const QString& instance, const QString& className) {
    auto signal = QDBusMessage::createTargetedSignal(
        QDBusConnection::sessionBus().baseService(), QStringLiteral("/quorin/driver/velt/Shell"),
        QStringLiteral("quorin.driver.velt.Shell"), QStringLiteral("FocusedWindowChanged"));
    signal << instance << className;
    bus_.send(signal);
  }

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("GetPointer")) return false;
    connection.send(message.createReply({pointer_.x(), pointer_.y()}));
    return true;
  }

 private:
  QString name_;
  QPointF pointer_;
  QDBusConnection bus_;
};

bool is(const std::optional<PointF>& at, double x, double y) {
  return at && at->x == x && at->y == y;
}
bool is(const std::optional<WindowClass>& window, const char* instance, const char* className) {
  return window && window->instance == instance && window->className == className;
}

bool haveBus() {
  return !PrivateBus::address.isEmpty() && QDBusConnection::sessionBus().isConnected();
}

TEST(DesktopBus, OnlyKWinItselfReportsThePointerAndTheFocusedWindow) {
  if (!haveBus()) GTEST_SKIP() << "no dbus-daemon";
  testing::CaptureLog log;
  Peer kwin("kwin", {}), stranger("stranger", {});
  ASSERT_TRUE(kwin.own(QStringLiteral("org.kde.KWin")));
  std::vector<PointF> moved;
  KWinBridge bridge(QStringLiteral("/nonexistent.js"), [&](PointF at) { moved.push_back(at); });
  bridge.start();
  const QString path = QStringLiteral("/quorin/driver/velt/KWin");
  const QString interface = QStringLiteral("quorin.driver.velt.KWin");
  // Once the bridge has learnt who KWin is, KWin is heard.
  EXPECT_TRUE(processEventsUntil([&] {
    kwin.call(path, interface, QStringLiteral("Pointer"), {3, 4});
    return !moved.empty();
  }));
  stranger.call(path, interface, QStringLiteral("ActiveWindow"),
                {QStringLiteral("impostor"), QStringLiteral("impostor.desktop")});
  stranger.call(path, interface, QStringLiteral("Pointer"), {666, 666});
  kwin.call(path, interface, QStringLiteral("ActiveWindow"),
            {QStringLiteral("libreoffice"), QStringLiteral("libreoffice-impress")});
  kwin.call(path, interface, QStringLiteral("Pointer"), {5, 6});
  EXPECT_TRUE(processEventsUntil([&] { return is(moved.back(), 5, 6); }));
  for (const PointF& at : moved) EXPECT_FALSE(is(at, 666, 666));
  EXPECT_TRUE(is(bridge.activeWindowClass(), "libreoffice-impress", "libreoffice"));
  EXPECT_GE(log.count("which is not KWin"), 1u);
}

TEST(DesktopBus, OnlyTheShellItselfSpeaksForItsExtension) {
  if (!haveBus()) GTEST_SKIP() << "no dbus-daemon";
  Peer shell("shell", {10, 20}), squatter("squatter", {666, 666});
  ASSERT_TRUE(shell.own(QStringLiteral("org.gnome.Shell")));
  ASSERT_TRUE(squatter.own(QStringLiteral("quorin.driver.velt.Shell")));
  GnomeShellSession session;
  std::vector<std::optional<WindowClass>> focus;
  QObject::connect(&session, &GnomeShellSession::focusChanged,
                   [&] { focus.push_back(session.activeWindowClass()); });
  std::vector<bool> shellMenu;
  AgentBus agent([] { return QList<AgentMenuItem>(); }, [](const QString&) {});
  QObject::connect(&agent, &AgentBus::shellMenuChanged,
                   [&](bool present) { shellMenu.push_back(present); });
  ASSERT_TRUE(agent.publish());

  std::optional<PointF> pointer;
  std::atomic<bool> asked{false};
  std::thread ask([&] {
    pointer = session.pointerPosition();
    asked = true;
  });
  EXPECT_TRUE(processEventsUntil([&] { return asked.load(); }));
  ask.join();
  EXPECT_TRUE(is(pointer, 10, 20));

  squatter.tellFocus(QStringLiteral("impostor"), QStringLiteral("impostor"));
  shell.tellFocus(QStringLiteral("libreoffice"), QStringLiteral("libreoffice-impress"));
  EXPECT_TRUE(processEventsUntil(
      [&] { return !focus.empty() && is(focus.back(), "libreoffice", "libreoffice-impress"); }));
  for (const auto& f : focus) EXPECT_FALSE(is(f, "impostor", "impostor"));

  // The tray icon stands aside only for the extension inside the shell.
  EXPECT_TRUE(std::find(shellMenu.begin(), shellMenu.end(), true) == shellMenu.end());
  squatter.release(QStringLiteral("quorin.driver.velt.Shell"));
  ASSERT_TRUE(shell.own(QStringLiteral("quorin.driver.velt.Shell")));
  EXPECT_TRUE(processEventsUntil([&] { return !shellMenu.empty() && shellMenu.back(); }));
}

}  // namespace
}  // namespace velt
