#include "tests/desktop/kwin_windows.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTemporaryFile>
#include <QTimer>
#include <cstdio>

namespace velt {
namespace {

const QString kPath = QStringLiteral("/quorin/driver/velt/RigWindows");

// Takes the script's calls: Window(class, type, active) for each, then Done.
class WindowList : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
    const QVariantList args = message.arguments();
    if (message.member() == QLatin1String("Window") && args.size() == 3) {
      std::printf("%s %d %s\n", args[0].toString().toUtf8().constData(), args[1].toInt(),
                  args[2].toBool() ? "active" : "-");
    } else if (message.member() == QLatin1String("Done")) {
      done = true;
      QCoreApplication::quit();
    }
    return true;
  }
  QString introspect(const QString&) const override { return {}; }
  bool done = false;
};

QDBusMessage scripting(const QString& method, const QVariantList& args) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
                                     QStringLiteral("org.kde.kwin.Scripting"), method);
  call.setArguments(args);
  return call;
}

}  // namespace

int kwinWindows() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  WindowList list;
  if (!bus.registerVirtualObject(kPath, &list)) return 1;
  QTemporaryFile script(QStringLiteral("/tmp/velt-rig-windows-XXXXXX.js"));
  if (!script.open()) return 1;
  const QString call =
      QStringLiteral("callDBus(\"%1\", \"%2\", \"quorin.driver.velt.RigWindows\", ")
          .arg(bus.baseService(), kPath);
  // KWin 6 has windowList and activeWindow, KWin 5 clientList and activeClient.
  script.write(
      QStringLiteral("var c = workspace.windowList ? workspace.windowList()\n"
                     "                             : workspace.clientList();\n"
                     "var a = workspace.activeWindow !== undefined ? workspace.activeWindow\n"
                     "                                             : workspace.activeClient;\n"
                     "for (var i = 0; i < c.length; i++)\n"
                     "  %1\"Window\", String(c[i].resourceClass), c[i].windowType,\n"
                     "      c[i] === a);\n"
                     "%1\"Done\");\n")
          .arg(call)
          .toUtf8());
  script.close();
  script.setPermissions(script.permissions() | QFileDevice::ReadOther);
  const QString name = QStringLiteral("velt-rig-windows-%1").arg(getpid());
  QDBusMessage loaded =
      bus.call(scripting(QStringLiteral("loadScript"), {script.fileName(), name}));
  if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().isEmpty() ||
      loaded.arguments().first().toInt() < 0) {
    std::fprintf(stderr, "KWin did not load the script: %s\n",
                 loaded.errorMessage().toUtf8().constData());
    return 1;
  }
  const int id = loaded.arguments().first().toInt();
  for (const QString& path :
       {QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id)}) {
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), path,
                                            QStringLiteral("org.kde.kwin.Script"),
                                            QStringLiteral("run")));
  }
  QTimer::singleShot(5000, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  bus.call(scripting(QStringLiteral("unloadScript"), {name}));
  return list.done ? 0 : 1;
}

}  // namespace velt
