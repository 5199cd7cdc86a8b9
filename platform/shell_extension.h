// The agent's GNOME Shell extension, switched on for the user: GNOME has no
// tray, and the extension's top-bar menu is the only way to the agent's menu
// there. An extension the user switched off (the shell then lists it in
// org.gnome.shell disabled-extensions) stays off.
#pragma once

class QObject;

namespace velt {

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
