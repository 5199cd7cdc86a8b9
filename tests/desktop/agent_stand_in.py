# Stands in for the agent on the session bus, in a desktop where the agent
# itself cannot run: owns its name, offers its menu (the property MenuItems
# of quorin.driver.velt.Agent) and prints each call made to it, a line each.
# Its method Shell(method, arguments) calls the agent's GNOME Shell extension
# as the agent, the only caller that extension answers, and gives its answer
# as text. With the argument "hostile" its menu holds what no agent sends:
# unknown items, repeats, a hundred of them, and long texts over lines.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("quorin.driver.velt", bus)


def say(*words):
    print(" ".join(str(w) for w in words), flush=True)


class Agent(dbus.service.Object):
    MENU = [("settings", "Open Settings"), ("uninstall", "Uninstall"), ("exit", "Exit")]
    if sys.argv[1:] == ["hostile"]:
        MENU = ([("settings", "Open Settings\nand more " + "x" * 500), ("format-disk", "Format")] +
                [("exit", "Exit %d" % n) for n in range(100)])

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return dbus.Array([dbus.Struct(item) for item in self.MENU], signature="(ss)")

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"MenuItems": self.Get(interface, "MenuItems")}

    @dbus.service.method("quorin.driver.velt.Agent", in_signature="s")
    def Activate(self, item):
        say("Activate", item)

    @dbus.service.method("quorin.driver.velt.Agent", in_signature="sai", out_signature="s")
    def Shell(self, method, arguments):
        shell = bus.get_object("quorin.driver.velt.Shell", "/quorin/driver/velt/Shell")
        reply = shell.get_dbus_method(method, "quorin.driver.velt.Shell")(*arguments)
        if reply is None:
            return ""
        return " ".join(str(float(v)) for v in reply) if isinstance(reply, tuple) else str(reply)


class KWinBridge(dbus.service.Object):
    @dbus.service.method("quorin.driver.velt.KWin", in_signature="ii")
    def Pointer(self, x, y):
        say("Pointer", x, y)

    @dbus.service.method("quorin.driver.velt.KWin", in_signature="ss")
    def ActiveWindow(self, window_class, desktop_file):
        say("ActiveWindow", window_class, desktop_file)


Agent(bus, "/quorin/driver/velt")
KWinBridge(bus, "/quorin/driver/velt/KWin")
say("ready")
GLib.MainLoop().run()
