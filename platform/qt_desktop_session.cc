#include "platform/qt_desktop_session.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "core/log.h"

namespace velt {
namespace {

constexpr int kBusQueryTimeoutMs = 1000;
constexpr int kCallTimeoutMs = 5000;

const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QString qt(const std::string& s) {
  return QString::fromStdString(s);
}

std::string errorText(const QDBusError& error) {
  return (error.name() + ": " + error.message()).toStdString();
}

// Screenshots a portal leaves outside the Pictures folder (some keep them in
// a temporary folder) are copied into it, so that none is lost.
void keepScreenshot(const QString& uri) {
  const QString file = QUrl(uri).toLocalFile();
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (file.isEmpty() || pictures.isEmpty()) return;
  const QString picturesDir = QDir(pictures).absolutePath() + QLatin1Char('/');
  if (QFileInfo(file).absoluteFilePath().startsWith(picturesDir)) return;
  QDir().mkpath(pictures);
  const QString suffix = QFileInfo(file).suffix().isEmpty() ? "png" : QFileInfo(file).suffix();
  const QString target = picturesDir + "Screenshot from " +
                         QDateTime::currentDateTime().toString("yyyy-MM-dd hh-mm-ss") + "." +
                         suffix;
  if (QFile::copy(file, target)) {
    logFormat("screenshot: saved %s", target.toUtf8().constData());
  } else {
    logFormat("screenshot: cannot copy %s to %s", file.toUtf8().constData(),
              target.toUtf8().constData());
  }
}

}  // namespace

// One screenshot request to the portal: waits for its Response signal.
class PortalRequest : public QObject {
  Q_OBJECT
 public:
  PortalRequest(QObject* parent, DesktopSession::Done done)
      : QObject(parent), done_(std::move(done)) {}

  bool listen(const QString& path) {
    auto bus = QDBusConnection::sessionBus();
    if (!path_.isEmpty()) {
      bus.disconnect(kPortal, path_, "org.freedesktop.portal.Request", "Response", this,
                     SLOT(response(uint, QVariantMap)));
    }
    path_ = path;
    return bus.connect(kPortal, path_, "org.freedesktop.portal.Request", "Response", this,
                       SLOT(response(uint, QVariantMap)));
  }
  const QString& path() const { return path_; }

  void finish(std::string failure) {
    if (done_) std::exchange(done_, nullptr)(std::move(failure));
    deleteLater();
  }

 public slots:
  void response(uint code, const QVariantMap& results) {
    // 0: taken, 1: cancelled by the user, 2: ended otherwise.
    if (code == 0) keepScreenshot(results.value("uri").toString());
    finish(code == 2 ? "the portal ended the request" : "");
  }

 private:
  DesktopSession::Done done_;
  QString path_;
};

QtDesktopSession::QtDesktopSession(X11Session& x11)
    : x11_(x11), context_(std::make_unique<QObject>()) {}

QtDesktopSession::~QtDesktopSession() = default;

bool QtDesktopSession::hasService(std::string_view busName) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    if (!busMissingLogged_) {
      logFormat("D-Bus: no session bus (%s); desktop functions use other ways",
                errorText(bus.lastError()).c_str());
      busMissingLogged_ = true;
    }
    return false;
  }
  const QString name = QString::fromUtf8(busName.data(), static_cast<qsizetype>(busName.size()));
  auto ask = [&](const char* method, const QVariantList& arguments) {
    QDBusMessage m = QDBusMessage::createMethodCall(kBus, "/org/freedesktop/DBus", kBus, method);
    m.setArguments(arguments);
    return bus.call(m, QDBus::Block, kBusQueryTimeoutMs);
  };
  QDBusMessage owned = ask("NameHasOwner", {name});
  if (owned.type() == QDBusMessage::ReplyMessage && owned.arguments().value(0).toBool()) {
    return true;
  }
  QDBusMessage activatable = ask("ListActivatableNames", {});
  return activatable.type() == QDBusMessage::ReplyMessage &&
         activatable.arguments().value(0).toStringList().contains(name);
}

bool QtDesktopSession::supportsShowingDesktop() {
  return x11_.supportsShowingDesktop();
}

bool QtDesktopSession::hasProgram(std::string_view program) {
  return !QStandardPaths::findExecutable(
              QString::fromUtf8(program.data(), static_cast<qsizetype>(program.size())))
              .isEmpty();
}

void QtDesktopSession::start(const DesktopCall& call, Done done) {
  switch (call.kind) {
    case DesktopCall::Kind::ToggleShowingDesktop: {
      std::string reason;
      x11_.toggleShowingDesktop(reason);
      done(reason);
      return;
    }
    case DesktopCall::Kind::ToggleShellOverview:
      toggleShellOverview(std::move(done));
      return;
    case DesktopCall::Kind::DBusMethod: {
      QDBusMessage m = QDBusMessage::createMethodCall(qt(call.service), qt(call.path),
                                                      qt(call.interface), qt(call.method));
      QVariantList arguments;
      for (const auto& a : call.arguments) arguments << qt(a);
      m.setArguments(arguments);
      callMethod(m, std::move(done));
      return;
    }
    case DesktopCall::Kind::OpenFolder:
      openFolder(call.arguments.empty() ? std::string(".") : call.arguments.front(),
                 std::move(done));
      return;
    case DesktopCall::Kind::ScreenshotPortal:
      takeScreenshot(std::move(done));
      return;
    case DesktopCall::Kind::StartProgram:
      startProgram(call.arguments, std::move(done));
      return;
    case DesktopCall::Kind::KeyChord:
      done("key chords are sent by the caller");
      return;
  }
}

void QtDesktopSession::callMethod(const QDBusMessage& message, Done done) {
  auto* watcher = new QDBusPendingCallWatcher(
      QDBusConnection::sessionBus().asyncCall(message, kCallTimeoutMs), context_.get());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                   [done = std::move(done)](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     done(w->isError() ? errorText(w->error()) : std::string());
                   });
}

void QtDesktopSession::toggleShellOverview(Done done) {
  QDBusMessage get = QDBusMessage::createMethodCall(kShell, "/org/gnome/Shell", kProperties, "Get");
  get.setArguments({kShell, QStringLiteral("OverviewActive")});
  auto* watcher = new QDBusPendingCallWatcher(
      QDBusConnection::sessionBus().asyncCall(get, kCallTimeoutMs), context_.get());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                   [this, done = std::move(done)](QDBusPendingCallWatcher* w) mutable {
                     w->deleteLater();
                     QDBusPendingReply<QDBusVariant> reply = *w;
                     if (reply.isError()) {
                       done(errorText(reply.error()));
                       return;
                     }
                     const bool active = reply.value().variant().toBool();
                     QDBusMessage set = QDBusMessage::createMethodCall(kShell, "/org/gnome/Shell",
                                                                       kProperties, "Set");
                     set.setArguments({kShell, QStringLiteral("OverviewActive"),
                                       QVariant::fromValue(QDBusVariant(!active))});
                     callMethod(set, std::move(done));
                   });
}

void QtDesktopSession::takeScreenshot(Done done) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  // The portal names the request object after our bus name and a token we
  // choose; listening before the call means no answer can be missed.
  const QString token = QStringLiteral("velt%1").arg(++requestCount_);
  QString sender = bus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  auto* request = new PortalRequest(context_.get(), std::move(done));
  request->listen(kPortalPath + "/request/" + sender + "/" + token);

  QDBusMessage m = QDBusMessage::createMethodCall(
      kPortal, kPortalPath, "org.freedesktop.portal.Screenshot", "Screenshot");
  QVariantMap options{{"handle_token", token}, {"interactive", true}};
  m.setArguments({QString(), options});
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(m, kCallTimeoutMs), request);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, request,
                   [request](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     QDBusPendingReply<QDBusObjectPath> reply = *w;
                     if (reply.isError()) {
                       request->finish(errorText(reply.error()));
                     } else if (reply.value().path() != request->path()) {
                       request->listen(reply.value().path());  // an older portal
                     }
                   });
}

void QtDesktopSession::openFolder(const std::string& folder, Done done) {
  const QUrl url = QUrl::fromLocalFile(qt(folder));
  bool opened = false;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    opened = QDesktopServices::openUrl(url);
  } else {
    opened = QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
  }
  done(opened ? std::string() : "no application opens " + folder);
}

void QtDesktopSession::startProgram(const std::vector<std::string>& arguments, Done done) {
  if (arguments.empty()) {
    done("no program given");
    return;
  }
  QStringList rest;
  for (size_t i = 1; i < arguments.size(); ++i) rest << qt(arguments[i]);
  QProcess process;
  process.setProgram(qt(arguments.front()));
  process.setArguments(rest);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  done(process.startDetached() ? std::string() : "cannot start " + arguments.front());
}

}  // namespace velt

#include "qt_desktop_session.moc"
