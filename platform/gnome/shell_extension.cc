#include "platform/gnome/shell_extension.h"

#include <glib.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <vector>

#include "actions/desktop_commands.h"
#include "core/log.h"

namespace velt {
namespace {

// Runs gsettings with arguments; then gets its output, or an empty optional
// text when it failed.
void gsettings(QObject* context, const QStringList& arguments,
               std::function<void(bool ok, const QString& output)> then) {
  auto* process = new QProcess(context);
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, then](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     then(false, {});
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::finished, process,
                   [process, then](int code, QProcess::ExitStatus status) {
                     then(status == QProcess::NormalExit && code == 0,
                          QString::fromUtf8(process->readAllStandardOutput()));
                     process->deleteLater();
                   });
  process->start(QStringLiteral("gsettings"), arguments);
}

}  // namespace

std::optional<QStringList> parseStringArray(const QString& text) {
  const QByteArray bytes = text.trimmed().toUtf8();
  GVariant* value =
      g_variant_parse(G_VARIANT_TYPE_STRING_ARRAY, bytes.constData(), nullptr, nullptr, nullptr);
  if (!value) return std::nullopt;
  QStringList list;
  gsize count = 0;
  const gchar** strings = g_variant_get_strv(value, &count);
  for (gsize i = 0; i < count; ++i) list << QString::fromUtf8(strings[i]);
  g_free(strings);
  g_variant_unref(value);
  return list;
}

QString stringArrayText(const QStringList& list) {
  std::vector<QByteArray> bytes;
  std::vector<const gchar*> strings;
  for (const QString& s : list) bytes.push_back(s.toUtf8());
  for (const QByteArray& b : bytes) strings.push_back(b.constData());
  GVariant* value =
      g_variant_ref_sink(g_variant_new_strv(strings.data(), static_cast<gssize>(strings.size())));
  gchar* text = g_variant_print(value, TRUE);
  QString out = QString::fromUtf8(text);
  g_free(text);
  g_variant_unref(value);
  return out;
}

namespace {

// The UUIDs in a gsettings string list; none when it is not one.
QStringList uuids(const QString& list) {
  return parseStringArray(list).value_or(QStringList());
}

// For the next log-in: the shell reads enabled-extensions when it starts.
void enableAtNextLogIn(QObject* context, const QString& uuid) {
  const QStringList key = {QStringLiteral("org.gnome.shell"), QStringLiteral("enabled-extensions")};
  gsettings(context, QStringList{QStringLiteral("get")} + key,
            [context, key, uuid](bool ok, const QString& output) {
              // What cannot be read is not written over.
              std::optional<QStringList> enabled = parseStringArray(output);
              if (!ok || !enabled || enabled->contains(uuid)) return;
              *enabled << uuid;
              gsettings(
                  context,
                  QStringList{QStringLiteral("set")} + key + QStringList{stringArrayText(*enabled)},
                  [](bool ok, const QString&) {
                    if (ok) {
                      logLine("GNOME Shell: the agent's extension loads at the next log-in");
                    } else {
                      logLine("GNOME Shell: cannot enable the agent's extension");
                    }
                  });
            });
}

// The shell's states of an extension it has but does not run.
constexpr int kExtensionError = 3;
constexpr int kExtensionOutOfDate = 4;

// A shell that has the extension but will not run it says so in its state:
// out of date when the extension does not declare the shell's version (a
// shell newer than the agent), an error when it did not load.
void reportRefusal(QObject* context, const QString& uuid, const QString& shell) {
  QDBusMessage info = QDBusMessage::createMethodCall(
      QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
      QStringLiteral("org.gnome.Shell.Extensions"), QStringLiteral("GetExtensionInfo"));
  info.setArguments({uuid});
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(info), context);
  QObject::connect(
      watcher, &QDBusPendingCallWatcher::finished, context, [shell](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<QVariantMap> reply = *w;
        if (reply.isError()) return;
        const QVariantMap info = reply.value();
        const int state = info.value(QStringLiteral("state")).toInt();
        if (state == kExtensionOutOfDate) {
          const QStringList declared = info.value(QStringLiteral("shell-version")).toStringList();
          logFormat(
              "GNOME Shell %s: the agent's extension declares only GNOME Shell %s, "
              "so the shell does not load it; the top-bar menu, the overlay and the "
              "shell's views stay off until an update of the agent declares this "
              "version",
              shell.toUtf8().constData(), declared.join(QStringLiteral(", ")).toUtf8().constData());
        } else if (state == kExtensionError) {
          logFormat("GNOME Shell %s: the agent's extension did not load: %s",
                    shell.toUtf8().constData(),
                    info.value(QStringLiteral("error")).toString().toUtf8().constData());
        }
      });
}

void enableVariant(QObject* context, const QString& uuid, const QString& shell) {
  gsettings(
      context,
      {QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
       QStringLiteral("disabled-extensions")},
      [context, uuid, shell](bool ok, const QString& output) {
        if (!ok) return;  // no GNOME settings here
        if (uuids(output).contains(uuid)) {
          logLine(
              "GNOME Shell: the agent's extension was switched off; its menu and overlay stay off");
          return;
        }
        QDBusMessage enable = QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
            QStringLiteral("org.gnome.Shell.Extensions"), QStringLiteral("EnableExtension"));
        enable.setArguments({uuid});
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(enable), context);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                         [context, uuid, shell](QDBusPendingCallWatcher* w) {
                           w->deleteLater();
                           QDBusPendingReply<bool> reply = *w;
                           if (reply.isError()) {
                             logFormat("GNOME Shell: cannot enable the agent's extension: %s",
                                       reply.error().message().toUtf8().constData());
                           } else if (!reply.value()) {
                             enableAtNextLogIn(context, uuid);  // not known yet
                           } else {
                             reportRefusal(context, uuid, shell);
                           }
                         });
      });
}

}  // namespace

ShellExtensionOwner::ShellExtensionOwner(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString extension = QString::fromUtf8(kShellExtensionName.data(),
                                              static_cast<qsizetype>(kShellExtensionName.size()));
  const QString shell = QStringLiteral("org.gnome.Shell");
  auto* watcher =
      new QDBusServiceWatcher(extension, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
  watcher->addWatchedService(shell);
  connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString& name, const QString&, const QString& owner) {
            ownerChanged(name, owner);
          });
  for (const QString& name : {extension, shell}) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    ask.setArguments({name});
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this, name](QDBusPendingCallWatcher* w) {
              w->deleteLater();
              QDBusPendingReply<QString> reply = *w;
              if (!reply.isError()) ownerChanged(name, reply.value());
            });
  }
}

QString ShellExtensionOwner::trustedOwner() const {
  std::lock_guard lock(mutex_);
  return trusted_;
}

QString ShellExtensionOwner::shellOwner() const {
  std::lock_guard lock(mutex_);
  return shell_;
}

void ShellExtensionOwner::ownerChanged(const QString& name, const QString& owner) {
  QString shell;
  if (name == QLatin1String("org.gnome.Shell")) {
    std::lock_guard lock(mutex_);
    shell = shell_ = owner;
  } else {
    extension_ = owner;
    shell = shellOwner();
  }
  const QString trusted = !extension_.isEmpty() && extension_ == shell ? extension_ : QString();
  if (!extension_.isEmpty() && trusted.isEmpty() && !shell.isEmpty()) {
    logRepeatingFormat("shell stand-in " + extension_.toStdString(),
                       "GNOME Shell: %.*s is held by %s, not by the shell; not listening to it",
                       static_cast<int>(kShellExtensionName.size()), kShellExtensionName.data(),
                       extension_.toUtf8().constData());
  }
  {
    std::lock_guard lock(mutex_);
    if (trusted == trusted_) return;
    trusted_ = trusted;
  }
  emit trustedOwnerChanged(trusted);
}

void enableShellExtension(QObject* context) {
  if (!qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME"))) return;
  // The variant the running shell loads: 45 and later take ES modules only.
  QDBusMessage version = QDBusMessage::createMethodCall(
      QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  version.setArguments({QStringLiteral("org.gnome.Shell"), QStringLiteral("ShellVersion")});
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(version), context);
  QObject::connect(
      watcher, &QDBusPendingCallWatcher::finished, context, [context](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *w;
        std::string shell =
            reply.isError() ? std::string() : reply.value().variant().toString().toStdString();
        std::string_view uuid = shellExtensionUuid(shell);
        enableVariant(context, QString::fromUtf8(uuid.data(), static_cast<qsizetype>(uuid.size())),
                      QString::fromStdString(shell));
      });
}

}  // namespace velt
