// The mouse assistant inside GNOME Shell. The shell lets no outside program
// open its views, so the agent asks this extension over the session bus:
//
//   quorin.driver.velt.Shell at /quorin/driver/velt/Shell (owned here, once
//   the shell has finished starting):
//     ToggleOverview(), ToggleApplicationGrid(), ToggleShowDesktop(),
//     OpenScreenshotTool(); the read-only property Showing (as): what is up
//     now, any of "overview", "app-grid", "desktop", "screenshot-tool",
//     "indicator".
//
// And while the agent runs (it owns quorin.driver.velt), a top-bar menu
// offers its items: the agent's MenuItems property (a(ss): item, text)
// gives them in its language, and Activate(item) runs one.
/* exported init */
'use strict';

const { Gio, GLib, GObject, Meta, St } = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;

const SHELL_NAME = 'quorin.driver.velt.Shell';
const SHELL_PATH = '/quorin/driver/velt/Shell';
const AGENT_NAME = 'quorin.driver.velt';
const AGENT_PATH = '/quorin/driver/velt';
const AGENT_INTERFACE = 'quorin.driver.velt.Agent';

const SHELL_INTERFACE = `<node>
  <interface name="quorin.driver.velt.Shell">
    <method name="ToggleOverview"/>
    <method name="ToggleApplicationGrid"/>
    <method name="ToggleShowDesktop"/>
    <method name="OpenScreenshotTool"/>
    <property name="Showing" type="as" access="read"/>
  </interface>
</node>`;

const AgentIndicator = GObject.registerClass(
class AgentIndicator extends PanelMenu.Button {
    _init(items, activate) {
        super._init(0.0, 'VELT Mouse Assistant');
        this.add_child(new St.Icon({
            gicon: new Gio.ThemedIcon({names: ['velt-mouse-assistant', 'input-mouse-symbolic']}),
            style_class: 'system-status-icon',
        }));
        for (const [item, text] of items) {
            this.menu.addAction(text, () => activate(item));
        }
    }
});

class Extension {
    constructor() {
        this._exported = null;
        this._nameId = 0;
        this._watchId = 0;
        this._startupId = 0;
        this._indicator = null;
        this._hidden = [];  // the windows ToggleShowDesktop minimized
    }

    enable() {
        if (Main.layoutManager._startingUp) {
            this._startupId = Main.layoutManager.connect('startup-complete', () => {
                Main.layoutManager.disconnect(this._startupId);
                this._startupId = 0;
                this._start();
            });
        } else {
            this._start();
        }
    }

    disable() {
        if (this._startupId)
            Main.layoutManager.disconnect(this._startupId);
        this._startupId = 0;
        if (this._watchId)
            Gio.bus_unwatch_name(this._watchId);
        this._watchId = 0;
        this._removeIndicator();
        if (this._nameId)
            Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        if (this._exported)
            this._exported.unexport();
        this._exported = null;
        this._hidden = [];
    }

    _start() {
        this._exported = Gio.DBusExportedObject.wrapJSObject(SHELL_INTERFACE, this);
        this._exported.export(Gio.DBus.session, SHELL_PATH);
        this._nameId = Gio.bus_own_name(Gio.BusType.SESSION, SHELL_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null, null);
        this._watchId = Gio.bus_watch_name(Gio.BusType.SESSION, AGENT_NAME,
            Gio.BusNameWatcherFlags.NONE,
            () => this._agentAppeared(), () => this._removeIndicator());
    }

    ToggleOverview() {
        Main.overview.toggle();
    }

    ToggleApplicationGrid() {
        if (Main.overview.visible && Main.overview.dash.showAppsButton.checked)
            Main.overview.hide();
        else
            Main.overview.showApps();
    }

    // Minimizes the windows of the current workspace; the next call brings
    // back those that are still minimized.
    ToggleShowDesktop() {
        if (this._showingDesktop()) {
            const windows = this._hidden;
            this._hidden = [];
            for (const window of windows)
                window.unminimize();
            if (windows.length > 0)
                windows[windows.length - 1].activate(global.get_current_time());
            return;
        }
        const workspace = global.workspace_manager.get_active_workspace();
        this._hidden = global.display.sort_windows_by_stacking(workspace.list_windows()).filter(
            w => !w.minimized && !w.skip_taskbar && w.window_type === Meta.WindowType.NORMAL);
        for (const window of this._hidden)
            window.minimize();
    }

    OpenScreenshotTool() {
        Main.screenshotUI.open().catch(e => logError(e, 'VELT Mouse Assistant: screenshot tool'));
    }

    get Showing() {
        const showing = [];
        if (Main.overview.visible)
            showing.push(Main.overview.dash.showAppsButton.checked ? 'app-grid' : 'overview');
        if (this._showingDesktop())
            showing.push('desktop');
        if (Main.screenshotUI.visible)
            showing.push('screenshot-tool');
        if (this._indicator)
            showing.push('indicator');
        return showing;
    }

    _showingDesktop() {
        this._hidden = this._hidden.filter(w => w.get_display() !== null);
        return this._hidden.length > 0 && this._hidden.every(w => w.minimized);
    }

    _agentAppeared() {
        Gio.DBus.session.call(AGENT_NAME, AGENT_PATH, 'org.freedesktop.DBus.Properties', 'Get',
            new GLib.Variant('(ss)', [AGENT_INTERFACE, 'MenuItems']), null,
            Gio.DBusCallFlags.NONE, 5000, null, (bus, result) => {
                let items;
                try {
                    items = bus.call_finish(result).deepUnpack()[0].deepUnpack();
                } catch (e) {
                    logError(e, 'VELT Mouse Assistant: no menu from the agent');
                    return;
                }
                this._removeIndicator();
                if (!this._watchId)
                    return;
                this._indicator = new AgentIndicator(items, item => this._activate(item));
                Main.panel.addToStatusArea(AGENT_NAME, this._indicator);
            });
    }

    _activate(item) {
        Gio.DBus.session.call(AGENT_NAME, AGENT_PATH, AGENT_INTERFACE, 'Activate',
            new GLib.Variant('(s)', [item]), null, Gio.DBusCallFlags.NONE, -1, null,
            (bus, result) => {
                try {
                    bus.call_finish(result);
                } catch (e) {
                    logError(e, `VELT Mouse Assistant: ${item}`);
                }
            });
    }

    _removeIndicator() {
        if (this._indicator)
            this._indicator.destroy();
        this._indicator = null;
    }
}

function init() {
    return new Extension();
}
