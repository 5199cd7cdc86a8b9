#include "platform/gnome/gnome_shell_session.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "actions/desktop_commands.h"
#include "core/log.h"
#include "platform/gnome/shell_extension.h"

namespace velt {
namespace {

// The extension's object lives on the shell's own connection: asked there,
// a program that took the extension's bus name never hears the question.
const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kPath = QString::fromUtf8(kShellExtensionPath.data(),
                                        static_cast<qsizetype>(kShellExtensionPath.size()));
const QString kInterface = QStringLiteral("quorin.driver.velt.Shell");
constexpr int kShellTimeoutMs = 250;

// The extension's focused window: WM_CLASS instance and class, then the
// desktop entry id where the shell knows it; empty strings when no window
// has the focus.
std::optional<WindowClass> windowClass(const QList<QVariant>& fields) {
  QStringList texts;
  for (const QVariant& field : fields) texts.append(field.toString());
  while (texts.size() < 3) texts.append(QString());
  if (texts[0].isEmpty() && texts[1].isEmpty()) return std::nullopt;
  return WindowClass{texts[0].toStdString(), texts[1].toStdString(), texts[2].toStdString()};
}

}  // namespace

GnomeShellSession::GnomeShellSession(QObject* parent)
    : QObject(parent), owner_(new ShellExtensionOwner(this)) {
  // The extension tells the agent alone; the slot looks at who sent it.
  QDBusConnection::sessionBus().connect(QString(), kPath, kInterface,
                                        QStringLiteral("FocusedWindowChanged"), this,
                                        SLOT(focusedWindowChanged(QDBusMessage)));
  // The extension came (asked afresh) or went (nothing is known).
  connect(owner_, &ShellExtensionOwner::trustedOwnerChanged, this, [this](const QString& owner) {
    if (owner.isEmpty()) {
      setFocused(std::nullopt);
    } else {
      askFocusedWindow();
    }
  });
  askFocusedWindow();
}

void GnomeShellSession::askFocusedWindow() {
  QDBusMessage get = QDBusMessage::createMethodCall(kShell, kPath, kInterface, "GetFocusedWindow");
  auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusMessage reply = w->reply();
    // Refused before the agent has its bus name: the extension tells it then.
    if (reply.type() == QDBusMessage::ReplyMessage) setFocused(windowClass(reply.arguments()));
  });
}

void GnomeShellSession::focusedWindowChanged(const QDBusMessage& message) {
  const QString shell = owner_->shellOwner();
  if (shell.isEmpty() || message.service() != shell) return;
  setFocused(windowClass(message.arguments()));
}

void GnomeShellSession::setFocused(std::optional<WindowClass> focused) {
  {
    std::lock_guard lock(mutex_);
    focused_ = focused;
  }
  notices_.tell(focused);
  emit focusChanged();
}

std::optional<WindowClass> GnomeShellSession::activeWindowClass() {
  std::lock_guard lock(mutex_);
  return focused_;
}

std::vector<WindowClass> GnomeShellSession::openWindows() {
  QDBusMessage ask = QDBusMessage::createMethodCall(kShell, kPath, kInterface, "GetOpenWindows");
  QDBusMessage reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, kShellTimeoutMs);
  std::vector<WindowClass> open;
  // An extension of an older agent, still running until the next log-in,
  // lists none.
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != "a(sss)") {
    logFormat("GNOME Shell: no list of open windows from the agent's extension (%s)",
              reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage().toUtf8().constData()
                                                         : "unexpected answer");
    return open;
  }
  const QDBusArgument windows = reply.arguments().value(0).value<QDBusArgument>();
  windows.beginArray();
  while (!windows.atEnd()) {
    QString instance, className, application;
    windows.beginStructure();
    windows >> instance >> className >> application;
    windows.endStructure();
    if (auto window = windowClass({instance, className, application})) {
      open.push_back(std::move(*window));
    }
  }
  windows.endArray();
  return open;
}

std::optional<PointF> GnomeShellSession::pointerPosition() {
  QDBusMessage ask = QDBusMessage::createMethodCall(kShell, kPath, kInterface, "GetPointer");
  QDBusMessage reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, kShellTimeoutMs);
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
  // To the shell itself: a stand-in holding the extension's name would
  // learn when the overlay shows.
  QDBusMessage message = QDBusMessage::createMethodCall(kShell, kPath, kInterface, method);
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
