// Whom the agent believes, on a private session bus: only KWin itself speaks
// as KWin, and only GNOME Shell itself for the agent's shell extension,
// whoever takes the extension's name.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QProcess>
#include <thread>

#include "platform/gnome/gnome_shell_session.h"
#include "platform/kwin/kwin_bridge.h"
#include "platform/session/agent_bus.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::processEventsUntil;

// In place before anything asks for a session bus.
class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
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
const auto* const privateBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

// Another program on the bus, with an object at the extension's path that
// tells a pointer position.
class Peer : public QDBusVirtualObject {
 public:
  Peer(const char* name, double pointer)
      : pointer_(pointer), bus_(QDBusConnection::connectToBus(PrivateBus::address, name)) {
    bus_.registerVirtualObject(QStringLiteral("/quorin/driver/velt/Shell"), this);
  }
  ~Peer() override { QDBusConnection::disconnectFromBus(bus_.name()); }
  bool own(const QString& name) {
    return bus_.interface()->registerService(name).value() ==
           QDBusConnectionInterface::ServiceRegistered;
  }
  void release(const QString& name) { bus_.interface()->unregisterService(name); }
  // Calls the agent, or signals to it (member of the extension), and waits.
  void call(const char* path, const char* interface, const char* member, QVariantList arguments) {
    const QString agent = QDBusConnection::sessionBus().baseService();
    QDBusMessage m = QString(member) == "FocusedWindowChanged"
                         ? QDBusMessage::createTargetedSignal(agent, path, interface, member)
                         : QDBusMessage::createMethodCall(agent, path, interface, member);
    m.setArguments(arguments);
    QDBusPendingCall pending = bus_.asyncCall(m, 2000);
    if (m.type() == QDBusMessage::MethodCallMessage) {
      processEventsUntil([&] { return pending.isFinished(); });
    }
  }
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    return message.member() == QLatin1String("GetPointer") &&
           connection.send(message.createReply({pointer_, pointer_}));
  }

 private:
  double pointer_;
  QDBusConnection bus_;
};

bool is(const std::optional<WindowClass>& window, const char* instance, const char* className) {
  return window && window->instance == instance && window->className == className;
}

TEST(DesktopBus, OnlyKWinItselfReportsThePointerAndTheFocusedWindow) {
  if (PrivateBus::address.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
  Peer kwin("kwin", 0), stranger("stranger", 0);
  ASSERT_TRUE(kwin.own(QStringLiteral("org.kde.KWin")));
  std::vector<double> moved;
  KWinBridge bridge(QStringLiteral("/nonexistent.js"), [&](PointF at) { moved.push_back(at.x); });
  bridge.start();
  const char* path = "/quorin/driver/velt/KWin";
  const char* kwinInterface = "quorin.driver.velt.KWin";
  // Heard once the bridge has learnt who KWin is.
  EXPECT_TRUE(processEventsUntil([&] {
    kwin.call(path, kwinInterface, "Pointer", {3, 4});
    return !moved.empty();
  }));
  stranger.call(path, kwinInterface, "ActiveWindow", {"impostor", "impostor"});
  stranger.call(path, kwinInterface, "Pointer", {666, 666});
  kwin.call(path, kwinInterface, "ActiveWindow", {"libreoffice", "libreoffice-impress"});
  kwin.call(path, kwinInterface, "Pointer", {5, 6});
  EXPECT_TRUE(processEventsUntil([&] { return moved.back() == 5; }));
  EXPECT_EQ(std::count(moved.begin(), moved.end(), 666), 0);
  EXPECT_TRUE(is(bridge.activeWindowClass(), "libreoffice-impress", "libreoffice"));
}

TEST(DesktopBus, OnlyTheShellItselfSpeaksForItsExtension) {
  if (PrivateBus::address.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
  const QString extension = QStringLiteral("quorin.driver.velt.Shell");
  Peer shell("shell", 10), squatter("squatter", 666);
  ASSERT_TRUE(shell.own(QStringLiteral("org.gnome.Shell")));
  ASSERT_TRUE(squatter.own(extension));
  GnomeShellSession session;
  std::vector<std::optional<WindowClass>> focus;
  QObject::connect(&session, &GnomeShellSession::focusChanged,
                   [&] { focus.push_back(session.activeWindowClass()); });
  std::vector<bool> shellMenu;
  AgentBus agent([] { return QList<AgentMenuItem>(); }, [](const QString&) {});
  QObject::connect(&agent, &AgentBus::shellMenuChanged, [&](bool on) { shellMenu.push_back(on); });
  ASSERT_TRUE(agent.publish());

  std::optional<PointF> pointer;
  std::atomic<bool> asked{false};
  std::thread ask([&] {
    pointer = session.pointerPosition();
    asked = true;
  });
  processEventsUntil([&] { return asked.load(); });
  ask.join();
  EXPECT_EQ(pointer.value_or(PointF{}).x, 10);

  const char* interface = "quorin.driver.velt.Shell";
  squatter.call("/quorin/driver/velt/Shell", interface, "FocusedWindowChanged", {"bad", "bad"});
  shell.call("/quorin/driver/velt/Shell", interface, "FocusedWindowChanged", {"lo", "impress"});
  EXPECT_TRUE(
      processEventsUntil([&] { return !focus.empty() && is(focus.back(), "lo", "impress"); }));
  for (const auto& f : focus) EXPECT_FALSE(is(f, "bad", "bad"));

  // The tray icon stands aside only for the extension inside the shell.
  EXPECT_EQ(std::count(shellMenu.begin(), shellMenu.end(), true), 0);
  squatter.release(extension);
  ASSERT_TRUE(shell.own(extension));
  EXPECT_TRUE(processEventsUntil([&] { return !shellMenu.empty() && shellMenu.back(); }));
}

}  // namespace
}  // namespace velt
