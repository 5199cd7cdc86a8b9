#include "platform/session/agent_bus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>

#include "core/log.h"
#include "platform/gnome/shell_extension.h"

namespace velt {

QDBusArgument& operator<<(QDBusArgument& out, const AgentMenuItem& item) {
  out.beginStructure();
  out << item.item << item.text;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, AgentMenuItem& item) {
  in.beginStructure();
  in >> item.item >> item.text;
  in.endStructure();
  return in;
}

namespace {

const QString kAgentName = QStringLiteral("quorin.driver.velt");
const QString kAgentPath = QStringLiteral("/quorin/driver/velt");

}  // namespace

AgentBus::AgentBus(std::function<QList<AgentMenuItem>()> items,
                   std::function<void(const QString& item)> activate, QObject* parent)
    : QObject(parent), items_(std::move(items)), activate_(std::move(activate)) {
  qDBusRegisterMetaType<AgentMenuItem>();
  qDBusRegisterMetaType<QList<AgentMenuItem>>();
}

AgentBus::~AgentBus() {
  if (!published_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterObject(kAgentPath);
  bus.unregisterService(kAgentName);
}

bool AgentBus::publish() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    logLine("D-Bus: no session bus; the desktop's own menus cannot reach the agent");
    return false;
  }
  if (!bus.registerObject(kAgentPath, this,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)) {
    logLine("D-Bus: cannot export /quorin/driver/velt");
    return false;
  }
  // Asked without waiting: the bus answers on the event loop.
  QDBusMessage request = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName");
  request.setArguments({kAgentName, 4u});  // DBUS_NAME_FLAG_DO_NOT_QUEUE
  auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(request), this);
  connect(answer, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    QDBusPendingReply<uint> reply = *w;
    if (reply.isError() || reply.value() != 1) {  // 1: primary owner
      logFormat("D-Bus: cannot own quorin.driver.velt (%s)",
                reply.isError() ? reply.error().message().toUtf8().constData() : "taken");
    }
  });
  published_ = true;

  // Only the extension inside the shell shows the menu: a program that took
  // its name must not make the tray icon stand aside.
  auto* shell = new ShellExtensionOwner(this);
  connect(shell, &ShellExtensionOwner::trustedOwnerChanged, this,
          [this](const QString& owner) { emit shellMenuChanged(!owner.isEmpty()); });
  return true;
}

void AgentBus::Activate(const QString& item) {
  // Uninstall asks its question in a modal dialog: the caller gets its
  // answer first.
  QMetaObject::invokeMethod(
      this, [this, item] { activate_(item); }, Qt::QueuedConnection);
}

}  // namespace velt
