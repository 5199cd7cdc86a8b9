#include "platform/session/qt_desktop_session.h"

#include <fcntl.h>
#include <unistd.h>

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
#include <QImage>
#include <QObject>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QtGlobal>
#include <cerrno>

#include "core/log.h"
#include "platform/kwin/kwin_bridge.h"

namespace velt {
namespace {

constexpr int kCallTimeoutMs = 5000;
// A screenshot program that has not written its picture by then has hung.
constexpr int kScreenshotProgramTimeoutMs = 20000;

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

QString picturesFolder() {
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  return pictures.isEmpty() ? QString() : QDir(pictures).absolutePath() + QLatin1Char('/');
}

// A new, empty file in the Pictures folder, named for the moment; empty when
// the folder cannot be made. The name is reserved as the file is made, so
// two pictures in the same second never share one.
QString newScreenshotFile(const QString& suffix) {
  const QString folder = picturesFolder();
  if (folder.isEmpty() || !QDir().mkpath(folder)) return {};
  const QString stem =
      folder + "Screenshot from " + QDateTime::currentDateTime().toString("yyyy-MM-dd hh-mm-ss");
  for (int n = 1; n < 1000; ++n) {
    const QString file =
        n == 1 ? stem + "." + suffix : stem + QStringLiteral(" (%1).").arg(n) + suffix;
    const int fd =
        ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return file;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

// Copies from into the file newScreenshotFile made.
bool copyInto(const QString& from, const QString& to) {
  QFile in(from), out(to);
  if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    return false;
  }
  while (!in.atEnd()) {
    const QByteArray chunk = in.read(1 << 16);
    if (chunk.isEmpty() || out.write(chunk) != chunk.size()) return false;
  }
  return out.flush();
}

// Screenshots a portal leaves outside the Pictures folder (some keep them in
// a temporary folder) are copied into it, so that none is lost.
void keepScreenshot(const QString& uri) {
  const QString file = QUrl(uri).toLocalFile();
  const QString picturesDir = picturesFolder();
  if (file.isEmpty() || picturesDir.isEmpty()) return;
  if (QFileInfo(file).absoluteFilePath().startsWith(picturesDir)) return;
  const QString target =
      newScreenshotFile(QFileInfo(file).suffix().isEmpty() ? "png" : QFileInfo(file).suffix());
  if (!target.isEmpty() && copyInto(file, target)) {
    logFormat("screenshot: saved %s", target.toUtf8().constData());
  } else {
    if (!target.isEmpty()) QFile::remove(target);
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

// Follows NameOwnerChanged on the session bus for the session.
class BusWatcher : public QObject {
  Q_OBJECT
 public:
  BusWatcher(QObject* parent, QtDesktopSession& session) : QObject(parent), session_(session) {
    QDBusConnection::sessionBus().connect(kBus, "/org/freedesktop/DBus", kBus, "NameOwnerChanged",
                                          this, SLOT(changed(QString, QString, QString)));
  }

 public slots:
  void changed(const QString& name, const QString&, const QString& owner) {
    session_.nameOwnerChanged(name.toStdString(), !owner.isEmpty());
  }

 private:
  QtDesktopSession& session_;
};

// One refresh: ready runs once every question is answered.
struct QtDesktopSession::Waiting {
  int questions = 0;
  std::function<void()> ready;
  void answered() {
    if (--questions == 0 && ready) std::exchange(ready, nullptr)();
  }
};

QtDesktopSession::QtDesktopSession(X11Session& x11)
    : x11_(x11),
      context_(std::make_unique<QObject>()),
      x11Thread_(std::make_unique<SerialQueue>("desktop x11")) {}

QtDesktopSession::~QtDesktopSession() {
  x11Thread_.reset();  // nothing may post back once the context is gone
}

void QtDesktopSession::onX11Thread(std::function<void()> task, std::function<void()> then) {
  x11Thread_->post([this, task = std::move(task), then = std::move(then)]() mutable {
    task();
    answers_.post(std::move(then));
  });
}

void QtDesktopSession::refresh(std::function<void()> ready) {
  auto waiting = std::make_shared<Waiting>();
  waiting->questions = 2;
  waiting->ready = std::move(ready);
  // The window manager may have changed since the last press.
  auto hint = std::make_shared<bool>(false);
  onX11Thread([this, hint] { *hint = x11_.supportsShowingDesktop(); },
              [this, hint, waiting] {
                showingDesktopHint_ = *hint;
                waiting->answered();
              });
  if (namesKnown_) {
    waiting->answered();
  } else {
    learnBusNames(waiting);
  }
}

// Asks the bus for the names it knows, once; NameOwnerChanged keeps the
// owned ones current after that.
void QtDesktopSession::learnBusNames(std::shared_ptr<Waiting> waiting) {
  waitingForNames_.push_back(std::move(waiting));
  if (waitingForNames_.size() > 1) return;  // already asked
  QDBusConnection bus = QDBusConnection::sessionBus();
  auto allAnswered = [this] {
    namesKnown_ = true;
    for (auto& w : std::exchange(waitingForNames_, {})) w->answered();
  };
  if (!bus.isConnected()) {
    if (!busMissingLogged_) {
      logFormat("D-Bus: no session bus (%s); desktop functions use other ways",
                errorText(bus.lastError()).c_str());
      busMissingLogged_ = true;
    }
    allAnswered();
    return;
  }
  new BusWatcher(context_.get(), *this);
  auto remaining = std::make_shared<int>(2);
  auto ask = [&](const char* method, std::set<std::string>& into) {
    QDBusMessage m = QDBusMessage::createMethodCall(kBus, "/org/freedesktop/DBus", kBus, method);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(m, kCallTimeoutMs), context_.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                     [&into, remaining, allAnswered](QDBusPendingCallWatcher* w) {
                       w->deleteLater();
                       QDBusPendingReply<QStringList> reply = *w;
                       if (!reply.isError()) {
                         for (const QString& name : reply.value()) into.insert(name.toStdString());
                       }
                       if (--*remaining == 0) allAnswered();
                     });
  };
  ask("ListNames", owned_);
  ask("ListActivatableNames", activatable_);
}

void QtDesktopSession::nameOwnerChanged(const std::string& name, bool owned) {
  if (owned) {
    owned_.insert(name);
  } else {
    owned_.erase(name);
  }
}

bool QtDesktopSession::hasService(std::string_view busName) {
  const std::string name(busName);
  return owned_.count(name) > 0 || activatable_.count(name) > 0;
}

bool QtDesktopSession::supportsShowingDesktop() {
  return showingDesktopHint_;
}

bool QtDesktopSession::hasX11Screen() {
  return QGuiApplication::platformName() == QLatin1String("xcb");
}

std::string QtDesktopSession::desktopName() {
  const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
  return desktop.isEmpty() ? std::string("this desktop") : desktop.toStdString();
}

bool QtDesktopSession::hasProgram(std::string_view program) {
  return !QStandardPaths::findExecutable(
              QString::fromUtf8(program.data(), static_cast<qsizetype>(program.size())))
              .isEmpty();
}

void QtDesktopSession::start(const DesktopCall& call, Done done) {
  switch (call.kind) {
    case DesktopCall::Kind::ToggleShowingDesktop:
      toggleShowingDesktop(std::move(done));
      return;
    case DesktopCall::Kind::ToggleProperty:
      toggleProperty(call, std::move(done));
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
    case DesktopCall::Kind::ScreenshotProgram:
      runScreenshotProgram(call.arguments, std::move(done));
      return;
    case DesktopCall::Kind::GrabScreen:
      grabScreen(std::move(done));
      return;
    case DesktopCall::Kind::CaptureKWin:
      captureKWin(std::move(done));
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

void QtDesktopSession::toggleShowingDesktop(Done done) {
  auto reason = std::make_shared<std::string>();
  onX11Thread([this, reason] { x11_.toggleShowingDesktop(*reason); },
              [reason, done = std::move(done)] { done(*reason); });
}

void QtDesktopSession::toggleProperty(const DesktopCall& call, Done done) {
  if (call.arguments.empty()) {
    done("no property named");
    return;
  }
  QDBusMessage get = QDBusMessage::createMethodCall(qt(call.service), qt(call.path), kProperties,
                                                    QStringLiteral("Get"));
  get.setArguments({qt(call.interface), qt(call.arguments.front())});
  auto* watcher = new QDBusPendingCallWatcher(
      QDBusConnection::sessionBus().asyncCall(get, kCallTimeoutMs), context_.get());
  QObject::connect(
      watcher, &QDBusPendingCallWatcher::finished, context_.get(),
      [this, call, done = std::move(done)](QDBusPendingCallWatcher* w) mutable {
        w->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError()) {
          done(errorText(reply.error()));
          return;
        }
        QDBusMessage set = QDBusMessage::createMethodCall(qt(call.service), qt(call.path),
                                                          kProperties, QStringLiteral("Set"));
        set.setArguments({qt(call.interface), qt(call.arguments.front()),
                          QVariant::fromValue(QDBusVariant(!reply.value().variant().toBool()))});
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

void QtDesktopSession::runScreenshotProgram(const std::vector<std::string>& arguments, Done done) {
  if (arguments.empty()) {
    done("no program given");
    return;
  }
  const QString file = newScreenshotFile("png");
  if (file.isEmpty()) {
    done("no Pictures folder");
    return;
  }
  QStringList rest;
  for (size_t i = 1; i < arguments.size(); ++i) rest << qt(arguments[i]);
  rest << file;
  auto* process = new QProcess(context_.get());
  process->setStandardInputFile(QProcess::nullDevice());
  process->setStandardOutputFile(QProcess::nullDevice());
  auto shared = std::make_shared<Done>(std::move(done));
  auto finish = [process, shared](std::string failure) {
    if (*shared) std::exchange(*shared, nullptr)(std::move(failure));
    process->deleteLater();
  };
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, finish](QProcess::ProcessError error) {
                     if (error == QProcess::FailedToStart) {
                       finish(process->errorString().toStdString());
                     } else if (error == QProcess::Timedout) {
                       process->kill();
                     }
                   });
  QObject::connect(
      process, &QProcess::finished, process,
      [process, file, finish](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0 && QFileInfo(file).size() > 0) {
          logFormat("screenshot: saved %s", file.toUtf8().constData());
          finish({});
          return;
        }
        QFile::remove(file);
        QString why =
            QString::fromUtf8(process->readAllStandardError()).trimmed().section('\n', 0, 0);
        if (why.isEmpty()) why = QStringLiteral("exit status %1").arg(code);
        finish(why.toStdString());
      });
  // A hung program is ended; its finished signal then reports it.
  QTimer::singleShot(kScreenshotProgramTimeoutMs, process, [process] { process->kill(); });
  process->start(qt(arguments.front()), rest);
}

void QtDesktopSession::grabScreen(Done done) {
  savePicture(
      [this](std::string& failure) {
        X11Session::ScreenPicture picture = x11_.grabScreen(failure);
        if (picture.pixels.empty()) return QImage();
        return QImage(picture.pixels.data(), picture.width, picture.height, picture.width * 4,
                      QImage::Format_RGB32)
            .copy();
      },
      std::move(done));
}

void QtDesktopSession::captureKWin(Done done) {
  QRect area;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->virtualGeometry();
  }
  if (area.isEmpty()) {
    done("no screen");
    return;
  }
  savePicture(
      [area](std::string& failure) {
        QString reason;
        QImage image = KWinBridge::captureArea(area, reason);
        if (image.isNull()) failure = reason.toStdString();
        return image;
      },
      std::move(done));
}

void QtDesktopSession::savePicture(std::function<QImage(std::string& failure)> take, Done done) {
  const QString file = newScreenshotFile("png");
  if (file.isEmpty()) {
    done("no Pictures folder");
    return;
  }
  auto failure = std::make_shared<std::string>();
  onX11Thread(
      [take = std::move(take), file, failure] {
        const QImage image = take(*failure);
        if (image.isNull()) {
          if (failure->empty()) *failure = "no picture";
          return;
        }
        if (!image.save(file, "PNG")) *failure = "cannot write " + file.toStdString();
      },
      [file, failure, done = std::move(done)] {
        if (failure->empty()) {
          logFormat("screenshot: saved %s", file.toUtf8().constData());
        } else {
          QFile::remove(file);  // the name it had reserved
        }
        done(*failure);
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
