// Follows the login manager (logind) on the system bus: PrepareForSleep(false)
// when the machine wakes, and the Active property of the agent's own session.
// Every call is asynchronous; nothing here ever waits for logind. Without a
// system bus or logind the agent works as before, and one line says so.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "core/session_events.h"

class QDBusMessage;
class QDBusServiceWatcher;

namespace velt {

class LogindWatch : public QObject {
  Q_OBJECT
 public:
  // bus: the system bus, or a test's stand-in. sessionId: the agent's
  // session ($XDG_SESSION_ID); empty to ask logind for the session of this
  // process, and when it has none (the user's service manager started the
  // agent, outside the session), for the graphical session of this user:
  // the user's display session, else the seat's active session when it is
  // this user's.
  LogindWatch(SessionEvents& events, QDBusConnection bus, QString sessionId,
              QObject* parent = nullptr);
  ~LogindWatch() override;

  // Starts following logind, now and whenever it (re)appears on the bus.
  void start();

  // The session's last known state; unknown until logind has said.
  std::optional<bool> sessionActive() const { return active_; }

 private slots:
  void prepareForSleep(bool starting);
  void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                const QStringList& invalidated);
  void logindAppeared();
  void logindVanished();

 private:
  void findSession();
  // The user's display session, else seat0's active one if it is ours.
  void findUserSession();
  void findSeatSession();
  void noSession(const QString& why);
  // Calls method and hands the reply to done, once it comes.
  void ask(const QDBusMessage& call, std::function<void(const QDBusMessage&)> done);
  void followSession(const QString& path);
  void readActive();
  void setActive(bool active);
  void logOnce(const QString& key, const QString& line);

  SessionEvents& events_;
  QDBusConnection bus_;
  QString sessionId_;
  QString sessionPath_;
  QDBusServiceWatcher* watcher_ = nullptr;
  std::optional<bool> active_;
  QStringList logged_;
};

}  // namespace velt
