// Whether the desktop has a tray for status notifier items: a watcher,
// org.kde.StatusNotifierWatcher, on the session bus, with a host (the panel
// that shows the items) registered with it. Plasma's panel and swaybar are
// such hosts.
//
// Qt decides once per process, when the first tray icon is made, whether
// its icons go to such a tray; on Wayland there is no other. An agent
// started at log-in before the panel would never show its icon, so it makes
// the icon only once this watch has said the host is there.
#pragma once

#include <QDBusConnection>
#include <QObject>

namespace velt {

class TrayHostWatch : public QObject {
  Q_OBJECT
 public:
  explicit TrayHostWatch(QDBusConnection bus, QObject* parent = nullptr);

  // Asks the bus (asynchronously) and follows watchers that come later.
  void start();

 signals:
  // A host is registered; sent once.
  void hostAppeared();

 private slots:
  void onHostRegistered();

 private:
  void askWatcher();

  QDBusConnection bus_;
  bool ready_ = false;
};

}  // namespace velt
