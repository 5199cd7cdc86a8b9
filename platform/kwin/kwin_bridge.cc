#include "platform/kwin/kwin_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <cerrno>
#include <cstring>

#include "core/log.h"

namespace velt {
namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScriptName = QStringLiteral("velt-mouse-assistant");
const QString kObjectPath = QStringLiteral("/quorin/driver/velt/KWin");

QDBusMessage scripting(const QString& method) {
  return QDBusMessage::createMethodCall(kKWin, QStringLiteral("/Scripting"),
                                        QStringLiteral("org.kde.kwin.Scripting"), method);
}

// Calls asynchronously; then runs done with the reply on the main thread.
void callAsync(const QDBusMessage& call, std::function<void(const QDBusMessage&)> done) {
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), nullptr);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, done = std::move(done)] {
    done(watcher->reply());
    watcher->deleteLater();
  });
}

}  // namespace

KWinBridge::KWinBridge(QString scriptFile, std::function<void(PointF)> pointerMoved)
    : scriptFile_(std::move(scriptFile)), pointerMoved_(std::move(pointerMoved)) {}

KWinBridge::~KWinBridge() {
  if (!registered_) return;
  QDBusConnection::sessionBus().unregisterObject(kObjectPath);
  QDBusMessage unload = scripting(QStringLiteral("unloadScript"));
  unload << kScriptName;
  QDBusConnection::sessionBus().call(unload, QDBus::NoBlock);
}

void KWinBridge::start() {
  registered_ = QDBusConnection::sessionBus().registerObject(kObjectPath, this,
                                                             QDBusConnection::ExportAllSlots);
  if (!registered_) {
    logFormat("KWin: cannot offer %s on the session bus; the overlay does not know the pointer",
              kObjectPath.toUtf8().constData());
    return;
  }
  auto* watcher = new QDBusServiceWatcher(kKWin, QDBusConnection::sessionBus(),
                                          QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& owner) { kwin_ = owner; });
  // Who KWin is, before its script can call.
  QDBusMessage owner = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
  owner << kKWin;
  callAsync(owner, [this](const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
      kwin_ = reply.arguments().first().toString();
    }
    // A script an earlier run of the agent left is replaced.
    QDBusMessage unload = scripting(QStringLiteral("unloadScript"));
    unload << kScriptName;
    callAsync(unload, [this](const QDBusMessage&) { loadScript(); });
  });
}

bool KWinBridge::fromKWin() {
  const QString sender = calledFromDBus() ? message().service() : QString();
  if (!sender.isEmpty() && sender == kwin_) return true;
  logRepeatingFormat("kwin stranger " + sender.toStdString(),
                     "KWin: ignored a report from %s, which is not KWin",
                     sender.toUtf8().constData());
  return false;
}

void KWinBridge::loadScript() {
  QDBusMessage load = scripting(QStringLiteral("loadScript"));
  load << scriptFile_ << kScriptName;
  callAsync(load, [this](const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        reply.arguments().first().toInt() < 0) {
      logFormat(
          "KWin: it did not load the agent's script %s (%s); the overlay does not know "
          "where the pointer is, nor the presentation keys the focused window",
          scriptFile_.toUtf8().constData(), reply.errorMessage().toUtf8().constData());
      return;
    }
    runScript(reply.arguments().first().toInt());
  });
}

void KWinBridge::runScript(int id) {
  // KWin 5.27 names a loaded script's object /Scripting/Script<id>; older
  // ones /<id>.
  for (const QString& path :
       {QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id)}) {
    QDBusMessage run = QDBusMessage::createMethodCall(
        kKWin, path, QStringLiteral("org.kde.kwin.Script"), QStringLiteral("run"));
    callAsync(run, [path](const QDBusMessage& reply) {
      if (reply.type() == QDBusMessage::ReplyMessage)
        logDebug("KWin: script runs as %s", path.toUtf8().constData());
    });
  }
}

void KWinBridge::invokeShortcut(const QString& name) {
  QDBusMessage invoke = QDBusMessage::createMethodCall(
      QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/component/kwin"),
      QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("invokeShortcut"));
  invoke << name;
  callAsync(invoke, [name](const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ErrorMessage) {
      logFormat("KWin: the shortcut %s of the agent's script failed: %s", name.toUtf8().constData(),
                reply.errorMessage().toUtf8().constData());
    }
  });
}

void KWinBridge::setFollowing(bool on) {
  if (on == following_ || !registered_) return;
  following_ = on;
  invokeShortcut(on ? QStringLiteral("velt-follow-pointer")
                    : QStringLiteral("velt-stop-following"));
}

void KWinBridge::Pointer(int x, int y) {
  if (!fromKWin()) return;
  if (pointerMoved_) pointerMoved_({static_cast<double>(x), static_cast<double>(y)});
}

void KWinBridge::ActiveWindow(const QString& windowClass, const QString& desktopFile) {
  if (!fromKWin()) return;
  std::optional<WindowClass> active;
  if (!windowClass.isEmpty() || !desktopFile.isEmpty()) {
    // KWin names the desktop entry (desktopFileName) where it knows one.
    std::string file = desktopFile.toStdString();
    active = WindowClass{file, windowClass.toStdString(), file};
  }
  {
    std::lock_guard lock(mutex_);
    active_ = active;
  }
  notices_.tell(active);
}

void KWinBridge::Windows(const QString& list) {
  if (!fromKWin()) return;
  std::vector<WindowClass> open;
  for (const QString& line : list.split(u'\n', Qt::SkipEmptyParts)) {
    const qsizetype tab = line.indexOf(u'\t');
    std::string windowClass = line.left(tab).toStdString();
    std::string file = tab < 0 ? std::string() : line.mid(tab + 1).toStdString();
    open.push_back({file, windowClass, file});
  }
  std::lock_guard lock(mutex_);
  open_ = std::move(open);
}

std::vector<WindowClass> KWinBridge::openWindows() {
  std::lock_guard lock(mutex_);
  return open_;
}

std::optional<WindowClass> KWinBridge::activeWindowClass() {
  std::lock_guard lock(mutex_);
  return active_;
}

int KWinBridge::screenShotVersion() {
  QDBusMessage call = QDBusMessage::createMethodCall(
      kKWin, QStringLiteral("/org/kde/KWin/ScreenShot2"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  call << QStringLiteral("org.kde.KWin.ScreenShot2") << QStringLiteral("Version");
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 1000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 0;
  return qdbus_cast<QDBusVariant>(reply.arguments().first()).variant().toInt();
}

QImage KWinBridge::captureArea(const QRect& area, QString& reason, bool withoutOwnWindows) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    reason = QString::fromUtf8(std::strerror(errno));
    return {};
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      kKWin, QStringLiteral("/org/kde/KWin/ScreenShot2"),
      QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureArea"));
  QVariantMap options{{QStringLiteral("native-resolution"), true},
                      {QStringLiteral("include-cursor"), false}};
  if (withoutOwnWindows) options.insert(QStringLiteral("hide-caller-windows"), true);
  call << area.x() << area.y() << static_cast<uint>(area.width())
       << static_cast<uint>(area.height()) << options
       << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
  close(fds[1]);
  QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    reason = reply.errorMessage().isEmpty() ? QStringLiteral("no answer") : reply.errorMessage();
    close(fds[0]);
    return {};
  }
  const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().first());
  const int width = results.value(QStringLiteral("width")).toInt();
  const int height = results.value(QStringLiteral("height")).toInt();
  const int stride = results.value(QStringLiteral("stride")).toInt();
  const auto format = static_cast<QImage::Format>(results.value(QStringLiteral("format")).toInt());
  const qsizetype size = static_cast<qsizetype>(stride) * height;
  if (width <= 0 || height <= 0 || stride < width * 4 || size > (qsizetype{1} << 30)) {
    reason = QStringLiteral("KWin sent a picture of no size");
    close(fds[0]);
    return {};
  }
  // KWin writes the pixels into the pipe after it answered.
  QByteArray pixels(size, Qt::Uninitialized);
  qsizetype got = 0;
  QElapsedTimer clock;
  clock.start();
  while (got < size) {
    pollfd fd{fds[0], POLLIN, 0};
    const int left = 2000 - static_cast<int>(clock.elapsed());
    if (left <= 0 || poll(&fd, 1, left) <= 0) break;
    ssize_t n = read(fds[0], pixels.data() + got, static_cast<size_t>(size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  close(fds[0]);
  if (got < size) {
    reason = QStringLiteral("KWin sent only part of the picture");
    return {};
  }
  QImage image(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride, format);
  // A copy: pixels goes when this returns.
  return image.convertToFormat(QImage::Format_RGB32).copy();
}

}  // namespace velt
