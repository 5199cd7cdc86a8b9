#include "platform/gnome_shell_session.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "actions/desktop_commands.h"
#include "core/log.h"

namespace velt {
namespace {

const QString kName = QString::fromUtf8(kShellExtensionName.data(),
                                        static_cast<qsizetype>(kShellExtensionName.size()));
const QString kPath = QString::fromUtf8(kShellExtensionPath.data(),
                                        static_cast<qsizetype>(kShellExtensionPath.size()));
const QString kInterface = QStringLiteral("quorin.driver.velt.Shell");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kPointerTimeoutMs = 250;

// The extension's (ss) FocusedWindow: WM_CLASS instance and class; two empty
// strings when no window has the focus.
std::optional<WindowClass> windowClass(const QVariant& value) {
  if (!value.canConvert<QDBusArgument>()) return std::nullopt;
  const auto argument = value.value<QDBusArgument>();
  if (argument.currentType() != QDBusArgument::StructureType) return std::nullopt;
  QString instance;
  QString className;
  argument.beginStructure();
  argument >> instance >> className;
  argument.endStructure();
  if (instance.isEmpty() && className.isEmpty()) return std::nullopt;
  return WindowClass{instance.toStdString(), className.toStdString()};
}

}  // namespace

GnomeShellSession::GnomeShellSession(QObject* parent)
    : QObject(parent),
      watcher_(new QDBusServiceWatcher(kName, QDBusConnection::sessionBus(),
                                       QDBusServiceWatcher::WatchForOwnerChange, this)) {
  QDBusConnection::sessionBus().connect(kName, kPath, kProperties,
                                        QStringLiteral("PropertiesChanged"), this,
                                        SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
  // The extension came (asked afresh) or went (nothing is known).
  connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& newOwner) {
            setFocused(std::nullopt);
            if (!newOwner.isEmpty()) askFocusedWindow();
          });
  askFocusedWindow();
}

void GnomeShellSession::askFocusedWindow() {
  QDBusMessage get = QDBusMessage::createMethodCall(kName, kPath, kProperties, "Get");
  get.setArguments({kInterface, QStringLiteral("FocusedWindow")});
  auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    QDBusPendingReply<QDBusVariant> reply = *w;
    setFocused(reply.isError() ? std::nullopt : windowClass(reply.value().variant()));
  });
}

void GnomeShellSession::propertiesChanged(const QString& interface, const QVariantMap& changed,
                                          const QStringList&) {
  if (interface != kInterface) return;
  auto focused = changed.find(QStringLiteral("FocusedWindow"));
  if (focused != changed.end()) setFocused(windowClass(*focused));
}

void GnomeShellSession::setFocused(std::optional<WindowClass> focused) {
  {
    std::lock_guard lock(mutex_);
    focused_ = std::move(focused);
  }
  emit focusChanged();
}

std::optional<WindowClass> GnomeShellSession::activeWindowClass() {
  std::lock_guard lock(mutex_);
  return focused_;
}

std::optional<PointF> GnomeShellSession::pointerPosition() {
  QDBusMessage ask = QDBusMessage::createMethodCall(kName, kPath, kInterface, "GetPointer");
  QDBusMessage reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, kPointerTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
    if (!pointerFailureLogged_.exchange(true)) {
      logFormat("GNOME Shell: no pointer position from the agent's extension (%s)",
                reply.errorMessage().toUtf8().constData());
    }
    return std::nullopt;
  }
  pointerFailureLogged_.store(false);
  return PointF{reply.arguments()[0].toDouble(), reply.arguments()[1].toDouble()};
}

ShellOverlay::ShellOverlay(const Settings& settings) : settings_(settings) {}

void ShellOverlay::fadeIn() {
  call("ShowOverlay", {mode_, settings_.spotlightSize.load(std::memory_order_relaxed)});
}

void ShellOverlay::fadeOut() {
  call("FadeOutOverlay");
}

void ShellOverlay::hideWindow() {
  call("HideOverlay");
}

void ShellOverlay::setNeedsDisplay() {
  call("SetOverlaySize", {settings_.spotlightSize.load(std::memory_order_relaxed)});
}

void ShellOverlay::call(const char* method, const QVariantList& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(kName, kPath, kInterface, method);
  message.setArguments(arguments);
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), &context_);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_,
                   [this](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     if (!w->isError()) {
                       failureLogged_ = false;
                       return;
                     }
                     if (failureLogged_) return;
                     failureLogged_ = true;
                     logFormat(
                         "GNOME Shell: the overlay needs the agent's shell extension (%s); "
                         "switch on \"VELT Mouse Assistant\" in the Extensions application",
                         w->error().message().toUtf8().constData());
                   });
}

}  // namespace velt
