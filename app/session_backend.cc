#include "app/session_backend.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include "core/log.h"

namespace velt {
namespace {

bool waylandSession() {
  return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

// GNOME Shell is the compositor when it owns its name on the session bus.
bool gnomeShellOnBus() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage ask = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus", "NameHasOwner");
  ask.setArguments({QStringLiteral("org.gnome.Shell")});
  QDBusMessage reply = bus.call(ask, QDBus::Block, 1000);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().first().toBool();
}

}  // namespace

SessionBackend chooseSessionBackend() {
  if (waylandSession() && gnomeShellOnBus()) {
    logLine(
        "session: GNOME Shell on Wayland; the overlay, the pointer and the focused window "
        "come from the agent's shell extension");
    return SessionBackend::GnomeShell;
  }
  return SessionBackend::X11;
}

}  // namespace velt
