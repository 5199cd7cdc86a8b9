#include "platform/session/tray_host_watch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "core/log.h"

namespace velt {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

TrayHostWatch::TrayHostWatch(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void TrayHostWatch::start() {
  if (!bus_.isConnected()) return;
  // The host may register after the watcher answered "no host yet".
  bus_.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"),
               this, SLOT(onHostRegistered()));
  auto* watcher =
      new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForRegistration, this);
  connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { askWatcher(); });
  askWatcher();
}

void TrayHostWatch::askWatcher() {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
  auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
  connect(call, &QDBusPendingCallWatcher::finished, this, [this, call] {
    call->deleteLater();
    QDBusPendingReply<QDBusVariant> reply = *call;
    // No watcher yet is the usual answer early in a session: wait for one.
    if (reply.isValid() && reply.value().variant().toBool()) onHostRegistered();
  });
}

void TrayHostWatch::onHostRegistered() {
  if (ready_) return;
  ready_ = true;
  logDebug("tray: the desktop's panel shows status notifier items");
  emit hostAppeared();
}

}  // namespace velt
