// The agent's GNOME Shell extension, switched on for the user: GNOME has no
// tray, and the extension's top-bar menu is the only way to the agent's menu
// there. An extension the user switched off (the shell then lists it in
// org.gnome.shell disabled-extensions) stays off.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

namespace velt {

// Who speaks for the agent's shell extension. The extension runs inside GNOME
// Shell, on the shell's own connection, so its bus name counts only while
// the owner of org.gnome.Shell holds it; any other holder is a stand-in that
// would learn what the agent shows and tell it where the pointer is and
// which window has the focus, and is ignored (one log line). So calls go to
// org.gnome.Shell (the extension's object is on the shell's connection),
// and only the shell's own signals are heard. Main thread; the owners from
// any thread.
class ShellExtensionOwner : public QObject {
  Q_OBJECT
 public:
  // Follows the session bus.
  explicit ShellExtensionOwner(QObject* parent = nullptr);
  // The shell's unique name while it holds the extension's name; empty
  // otherwise, and until the bus has told.
  QString trustedOwner() const;
  // The shell's unique name; empty while there is none.
  QString shellOwner() const;

 signals:
  void trustedOwnerChanged(const QString& owner);

 private:
  void ownerChanged(const QString& name, const QString& owner);

  QString extension_;  // main thread only
  mutable std::mutex mutex_;
  QString shell_;
  QString trusted_;
};

// enabled-extensions and disabled-extensions are GVariant string arrays,
// which gsettings prints and reads as GVariant text ("['a', \"it's\"]",
// "@as []"): read and written as that, never picked apart by hand. nullopt
// when text is no string array.
std::optional<QStringList> parseStringArray(const QString& text);
QString stringArrayText(const QStringList& list);

// On GNOME, asks the shell to enable the extension (the variant for its
// version: 45 and later load ES modules only); when the shell does not
// know it yet (installed after the user logged in), adds it to
// enabled-extensions so that it loads at the next log-in; when the shell
// has it but will not run it (a shell newer than the versions it declares,
// or one it failed to load), says why. Nothing waits: gsettings runs as a
// child of context, the shell answers on the bus. Each outcome but success
// is logged once.
void enableShellExtension(QObject* context);

}  // namespace velt
