#include "platform/session/logind_watch.h"

#include <unistd.h>

#include <QDBusArgument>
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

void LogindWatch::ask(const QDBusMessage& call, std::function<void(const QDBusMessage&)> done) {
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this,
          [done = std::move(done)](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            done(w->reply());
          });
}

namespace {

QDBusMessage propertyOf(const QString& path, const QString& interface, const QString& name) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, path, kProperties, QStringLiteral("Get"));
  call << interface << name;
  return call;
}

// The object path of a "(so)" property such as User.Display; empty for "/".
QString sessionPathIn(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  QString path;
  QString id;
  const QDBusArgument value =
      reply.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>();
  value.beginStructure();
  value >> id;
  QDBusObjectPath object;
  value >> object;
  value.endStructure();
  path = object.path();
  return path == QLatin1String("/") ? QString() : path;
}

}  // namespace

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
  ask(call, [this](const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
      followSession(reply.arguments().first().value<QDBusObjectPath>().path());
    } else if (sessionId_.isEmpty()) {
      findUserSession();
    } else {
      noSession(reply.errorMessage());
    }
  });
}

void LogindWatch::findUserSession() {
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kManagerPath, kManager, QStringLiteral("GetUser"));
  call << static_cast<uint>(getuid());
  ask(call, [this](const QDBusMessage& user) {
    if (user.type() != QDBusMessage::ReplyMessage || user.arguments().isEmpty()) {
      noSession(user.errorMessage());
      return;
    }
    const QString path = user.arguments().first().value<QDBusObjectPath>().path();
    ask(propertyOf(path, QStringLiteral("org.freedesktop.login1.User"), QStringLiteral("Display")),
        [this](const QDBusMessage& display) {
          const QString session = sessionPathIn(display);
          if (session.isEmpty()) {
            findSeatSession();
          } else {
            followSession(session);
          }
        });
  });
}

void LogindWatch::findSeatSession() {
  ask(propertyOf(QStringLiteral("/org/freedesktop/login1/seat/seat0"),
                 QStringLiteral("org.freedesktop.login1.Seat"), QStringLiteral("ActiveSession")),
      [this](const QDBusMessage& active) {
        const QString session = sessionPathIn(active);
        if (session.isEmpty()) {
          noSession(QStringLiteral("this user has no graphical session"));
          return;
        }
        ask(propertyOf(session, kSession, QStringLiteral("User")),
            [this, session](const QDBusMessage& user) {
              uint uid = 0;
              bool known = false;
              if (user.type() == QDBusMessage::ReplyMessage && !user.arguments().isEmpty()) {
                const QDBusArgument value =
                    user.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>();
                value.beginStructure();
                value >> uid;
                value.endStructure();
                known = true;
              }
              if (known && uid == getuid()) {
                followSession(session);
              } else {
                noSession(QStringLiteral("the seat's session is another user's"));
              }
            });
      });
}

void LogindWatch::noSession(const QString& why) {
  logOnce("session",
          "login manager: no session for this agent (" + why + "); switching users goes unnoticed");
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
