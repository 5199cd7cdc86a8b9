#include "platform/logind_watch.h"

#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "core/log.h"

namespace velt {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

LogindWatch::LogindWatch(SessionEvents& events, QDBusConnection bus, QString sessionId,
                         QObject* parent)
    : QObject(parent), events_(events), bus_(std::move(bus)), sessionId_(std::move(sessionId)) {}

LogindWatch::~LogindWatch() = default;

void LogindWatch::start() {
  if (!bus_.isConnected()) {
    logOnce("bus", "login manager: no system bus (" + bus_.lastError().message() +
                       "); waking from sleep and switching users go unnoticed");
    return;
  }
  watcher_ =
      new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, &LogindWatch::logindAppeared);
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &LogindWatch::logindVanished);
  bus_.connect(kService, kManagerPath, kManager, QStringLiteral("PrepareForSleep"), this,
               SLOT(prepareForSleep(bool)));
  findSession();
}

void LogindWatch::findSession() {
  QDBusMessage call = sessionId_.isEmpty()
                          ? QDBusMessage::createMethodCall(kService, kManagerPath, kManager,
                                                           QStringLiteral("GetSessionByPID"))
                          : QDBusMessage::createMethodCall(kService, kManagerPath, kManager,
                                                           QStringLiteral("GetSession"));
  if (sessionId_.isEmpty()) {
    call << static_cast<uint>(getpid());
  } else {
    call << sessionId_;
  }
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<QDBusObjectPath> reply = *w;
    w->deleteLater();
    if (reply.isError()) {
      logOnce("session", "login manager: no session for this agent (" + reply.error().message() +
                             "); switching users goes unnoticed");
      return;
    }
    followSession(reply.value().path());
  });
}

void LogindWatch::followSession(const QString& path) {
  if (path != sessionPath_) {
    if (!sessionPath_.isEmpty()) {
      bus_.disconnect(kService, sessionPath_, kProperties, QStringLiteral("PropertiesChanged"),
                      this, SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
    }
    sessionPath_ = path;
    bus_.connect(kService, sessionPath_, kProperties, QStringLiteral("PropertiesChanged"), this,
                 SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
  }
  readActive();
}

void LogindWatch::readActive() {
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, sessionPath_, kProperties, QStringLiteral("Get"));
  call << kSession << QStringLiteral("Active");
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<QDBusVariant> reply = *w;
    w->deleteLater();
    if (reply.isError()) {
      logOnce("active", "login manager: cannot tell whether this session is active (" +
                            reply.error().message() + ")");
      return;
    }
    setActive(reply.value().variant().toBool());
  });
}

void LogindWatch::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                           const QStringList& invalidated) {
  if (interface != kSession) return;
  if (auto it = changed.find(QStringLiteral("Active")); it != changed.end()) {
    setActive(it->toBool());
  } else if (invalidated.contains(QStringLiteral("Active"))) {
    readActive();
  }
}

void LogindWatch::setActive(bool active) {
  if (active_ == active) return;
  const bool first = !active_.has_value();
  active_ = active;
  // An agent starts in its active session; only a change is news.
  if (first && active) return;
  events_.sessionActiveChanged(active);
}

void LogindWatch::prepareForSleep(bool starting) {
  if (!starting) events_.resumed();
}

void LogindWatch::logindAppeared() {
  // A login manager that restarted: its session object and its state are
  // read afresh.
  findSession();
}

void LogindWatch::logindVanished() {
  logOnce("vanished", "login manager left the system bus; the agent carries on as it is");
}

void LogindWatch::logOnce(const QString& key, const QString& line) {
  if (logged_.contains(key)) return;
  logged_.append(key);
  logLine(line.toStdString());
}

}  // namespace velt
