// Guest program: a login manager for the guest's system bus, with the
// sessions of two users, so that two real agents can follow the seat as it
// changes hands. It answers what the agent asks of logind (GetSession,
// GetSessionByPID, a session's Active property) and reads commands on
// standard input: "activate ID" gives the seat to that session, every other
// session leaving it first, as logind tells of a switch.
//
//   velt-e2e-logind ID ...     (the first session starts active)
//
// It prints "ready" once it owns its name, and "activated ID" after each
// switch has been signalled.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

namespace {

const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kSessions = QStringLiteral("/org/freedesktop/login1/session/");

class Logind : public QDBusVirtualObject {
 public:
  explicit Logind(QDBusConnection bus) : bus_(std::move(bus)) {}

  void add(const QString& id, bool active) { active_[id] = active; }

  void activate(const QString& id) {
    // Leaving first, then arriving, as logind signals a switch.
    for (bool arriving : {false, true}) {
      for (auto& [session, active] : active_) {
        const bool now = session == id;
        if (now != arriving || active == now) continue;
        active = now;
        QDBusMessage changed = QDBusMessage::createSignal(kSessions + session, kProperties,
                                                          QStringLiteral("PropertiesChanged"));
        changed << kSession << QVariantMap{{QStringLiteral("Active"), now}} << QStringList{};
        bus_.send(changed);
      }
    }
    std::cout << "activated " << id.toStdString() << std::endl;
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QList<QVariant> args = message.arguments();
    if (message.interface() == kManager && message.member() == QLatin1String("GetSession") &&
        args.size() == 1 && active_.count(args[0].toString()) != 0) {
      connection.send(message.createReply(
          QVariant::fromValue(QDBusObjectPath(kSessions + args[0].toString()))));
      return true;
    }
    if (message.interface() == kManager && (message.member() == QLatin1String("GetSession") ||
                                            message.member() == QLatin1String("GetSessionByPID"))) {
      connection.send(
          message.createErrorReply(QStringLiteral("org.freedesktop.login1.NoSuchSession"),
                                   QStringLiteral("no such session")));
      return true;
    }
    const QString id = message.path().mid(kSessions.size());
    if (message.interface() == kProperties && message.member() == QLatin1String("Get") &&
        message.path().startsWith(kSessions) && active_.count(id) != 0 && args.size() == 2 &&
        args[1].toString() == QLatin1String("Active")) {
      connection.send(
          message.createReply(QVariant::fromValue(QDBusVariant(QVariant(active_.at(id))))));
      return true;
    }
    return false;
  }

 private:
  QDBusConnection bus_;
  std::map<QString, bool> active_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::systemBus();
  Logind logind(bus);
  for (int i = 1; i < argc; ++i) logind.add(QString::fromLocal8Bit(argv[i]), i == 1);
  if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                 QDBusConnection::SubPath) ||
      !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
    std::cerr << "velt-e2e-logind: cannot serve on the system bus: "
              << bus.lastError().message().toStdString() << "\n";
    return 1;
  }
  std::cout << "ready" << std::endl;
  QSocketNotifier input(0, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char line[128];
    if (!std::fgets(line, sizeof line, stdin)) {
      app.quit();
      return;
    }
    const QString command = QString::fromLocal8Bit(line).trimmed();
    if (command.startsWith(QLatin1String("activate "))) logind.activate(command.mid(9));
  });
  return app.exec();
}
