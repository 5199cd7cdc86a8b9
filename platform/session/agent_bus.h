// The agent on the session bus, for the desktop's own menus: it owns
// quorin.driver.velt and exports /quorin/driver/velt with the interface
// quorin.driver.velt.Agent:
//   property MenuItems a(ss)  the tray menu's items in order: (item, text),
//                             the texts in the agent's language
//   method Activate(s item)   runs an item as the tray menu would
// The GNOME Shell extension builds its top-bar menu from these; the agent's
// own tray icon stands aside while that extension runs.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

namespace velt {

struct AgentMenuItem {
  QString item;  // "settings", "uninstall", "exit"
  QString text;
};

class AgentBus : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "quorin.driver.velt.Agent")
  Q_PROPERTY(QList<velt::AgentMenuItem> MenuItems READ menuItems)

 public:
  // items: the menu as it is now. activate runs later on the main thread,
  // after the caller has had its answer.
  AgentBus(std::function<QList<AgentMenuItem>()> items,
           std::function<void(const QString& item)> activate, QObject* parent = nullptr);
  ~AgentBus() override;

  // Takes the name and exports the object; false (logged once) without a
  // session bus or when the name is taken.
  bool publish();

  QList<AgentMenuItem> menuItems() const { return items_(); }

 public slots:
  void Activate(const QString& item);

 signals:
  // The agent's GNOME Shell extension came or went.
  void shellMenuChanged(bool present);

 private:
  std::function<QList<AgentMenuItem>()> items_;
  std::function<void(const QString&)> activate_;
  bool published_ = false;
};

}  // namespace velt

Q_DECLARE_METATYPE(velt::AgentMenuItem)
