// The mouse assistant inside GNOME Shell. The shell lets no outside program
// open its views, draw above its windows, or learn where the pointer is or
// which window has the focus, so the agent asks this extension over the
// session bus:
//
//   quorin.driver.velt.Shell at /quorin/driver/velt/Shell (owned here, once
//   the shell has finished starting):
//     ToggleOverview(), ToggleApplicationGrid(), ToggleShowDesktop(),
//     OpenScreenshotTool(); the read-only property Showing (as): what is up
//     now, any of "overview", "app-grid", "desktop", "screenshot-tool",
//     "indicator", "overlay".
//     The overlay, drawn here for the agent, whose state machine decides
//     when it shows and fades:
//       ShowOverlay(i mode, i size): 0 spotlight, 1 pointer dot, 2 magnifier
//         (the screen beneath as it is at every frame); size is the side of
//         the hole or lens in points. Fades in over 0.2 s on the monitor
//         under the pointer, then follows the pointer every frame, from
//         monitor to monitor.
//       SetOverlaySize(i size), FadeOutOverlay() (0.2 s, stays up until
//       HideOverlay()), HideOverlay().
//     GetPointer() -> (d x, d y): the pointer in the shell's global
//       coordinates (logical pixels, origin at the top left of the layout).
//     GetFocusedWindow() -> (s instance, s class, s application): the
//       focused window's WM_CLASS instance and class (for Wayland clients
//       both are the app id) and its application's desktop entry id as the
//       shell's window tracker knows it (without ".desktop"; empty when the
//       tracker knows no entry), or three empty strings; the signal
//       FocusedWindowChanged(sss) tells the agent alone of each change, and
//       of the focus as it appears.
//     GetOpenWindows() -> a(sss): the same of each normal window open now
//       that the task bar would show, the most recently used first.
//   Every method answers the agent only, the owner of quorin.driver.velt:
//   GNOME keeps the pointer and the focused window from other programs, and
//   the magnifier shows the screen. Others get AccessDenied.
//
// And while the agent runs, a top-bar menu offers its items: the agent's
// MenuItems property (a(ss): item, text) gives them in its language (the
// known items only, each once, their texts cut to a line), and
// Activate(item) runs one.
//
// The same code serves GNOME Shell 43 and 44 (this file) and 45 and later
// (an ES module made from this file at build time: only the parts between
// the "begin"/"end" markers differ).
/* exported init */
// begin imports
'use strict';

const { Clutter, Cogl, Gio, GLib, GObject, Graphene, Meta, Shell, St } = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
// end imports

const SHELL_NAME = 'quorin.driver.velt.Shell';
const SHELL_PATH = '/quorin/driver/velt/Shell';
const AGENT_NAME = 'quorin.driver.velt';
const AGENT_PATH = '/quorin/driver/velt';
const AGENT_INTERFACE = 'quorin.driver.velt.Agent';
const MENU_ITEMS = ['settings', 'uninstall', 'exit'];
const LONGEST_MENU_TEXT = 80;

const SHELL_INTERFACE = `<node>
  <interface name="quorin.driver.velt.Shell">
    <method name="ToggleOverview"/>
    <method name="ToggleApplicationGrid"/>
    <method name="ToggleShowDesktop"/>
    <method name="OpenScreenshotTool"/>
    <method name="ShowOverlay">
      <arg name="mode" type="i" direction="in"/>
      <arg name="size" type="i" direction="in"/>
    </method>
    <method name="SetOverlaySize">
      <arg name="size" type="i" direction="in"/>
    </method>
    <method name="FadeOutOverlay"/>
    <method name="HideOverlay"/>
    <method name="GetPointer">
      <arg name="x" type="d" direction="out"/>
      <arg name="y" type="d" direction="out"/>
    </method>
    <method name="GetFocusedWindow">
      <arg name="instance" type="s" direction="out"/>
      <arg name="class" type="s" direction="out"/>
      <arg name="application" type="s" direction="out"/>
    </method>
    <method name="GetOpenWindows">
      <arg name="windows" type="a(sss)" direction="out"/>
    </method>
    <signal name="FocusedWindowChanged">
      <arg name="instance" type="s"/>
      <arg name="class" type="s"/>
      <arg name="application" type="s"/>
    </signal>
    <property name="Showing" type="as" access="read"/>
  </interface>
</node>`;
// The methods, with what they answer.
const AGENT_ONLY = {
    ToggleOverview: null, ToggleApplicationGrid: null, ToggleShowDesktop: null,
    OpenScreenshotTool: null, ShowOverlay: null, SetOverlaySize: null, FadeOutOverlay: null,
    HideOverlay: null, GetPointer: '(dd)', GetFocusedWindow: '(sss)',
    GetOpenWindows: '(a(sss))',
};

const MODE_SPOTLIGHT = 0;
const MODE_POINTER_DOT = 1;
const MODE_MAGNIFIER = 2;
const FADE_MS = 200;
const SMALLEST_SIZE = 200;
const LARGEST_SIZE = 500;
// Black at 0.8 (0xcc); Cogl's colour where Clutter's is gone (GNOME 47).
const DIM_ALPHA = 0xcc;
function black(alpha) {
    return (Clutter.Color ?? Cogl.Color).from_string(`#000000${alpha.toString(16).padStart(2, '0')}`)[1];
}
// Cairo's operators and fill rules.
const CLEAR = 0;
const SOURCE = 1;
const OVER = 2;
const EVEN_ODD = 1;

// The lens is clipped to a square with rounded corners. bounds holds, in
// pixels: the side, the corners' radius, the side of the texture the effect
// paints the lens into (a little larger), and where the lens starts in it.
const ROUNDED_CLIP_DECLARATIONS = 'uniform vec4 bounds;\n';
const ROUNDED_CLIP_CODE = `
vec2 p = cogl_tex_coord_in[0].xy * bounds.z - vec2(bounds.w);
vec2 inner = clamp(p, vec2(bounds.y), vec2(bounds.x - bounds.y));
cogl_color_out *= clamp(bounds.y - length(p - inner) + 0.5, 0.0, 1.0);
`;

const RoundedClip = GObject.registerClass(
class RoundedClip extends Shell.GLSLEffect {
    vfunc_build_pipeline() {
        const hooks = Shell.SnippetHook ?? Cogl.SnippetHook;
        this.add_glsl_snippet(hooks.FRAGMENT, ROUNDED_CLIP_DECLARATIONS, ROUNDED_CLIP_CODE, false);
    }

    // Clutter pads the texture: from a whole pixel, it starts one pixel
    // before the lens and ends two after it.
    setBounds(side, radius) {
        const [known, width] = this.get_target_size();
        const texture = known && width > side ? width : side + 3;
        this.set_uniform_float(this.get_uniform_location('bounds'), 4, [side, radius, texture, 1]);
    }
});

// The picture in the lens: a clone of the shell's UI group (every window,
// the panels, the shell's own pop-ups; not the overlay, which lies above it),
// painted afresh in every frame and sized twice the stage, so that it shows
// it all twice enlarged, of which the lens shows a small part. Only that part
// is ever painted, so only that part is damaged when it moves or what it
// shows changes: the stage repaints no more than the lens. The clone's own
// coordinates are its source's, half its size.
const LensPicture = GObject.registerClass(
class LensPicture extends Clutter.Clone {
    vfunc_get_paint_volume(volume) {
        const lens = this.get_parent();
        if (!lens)
            return false;
        // A pixel more all round, for the filtering at the edges.
        volume.set_origin(new Graphene.Point3D({ x: -this.x / 2 - 1, y: -this.y / 2 - 1, z: 0 }));
        volume.set_width(lens.width / 2 + 2);
        volume.set_height(lens.height / 2 + 2);
        return true;
    }
});

// The spotlight's dim: one actor over the whole monitor, never moved or
// resized while the pointer moves, that paints the four bands around the
// hole. It asks for no redraw of its own: all that changes in it lies in
// the hole's old and new squares, which the hole's own move has the stage
// repaint, and the dim with them. Bands that were actors of their own
// damaged nearly the whole monitor at every move, as they changed size.
const SpotlightDim = GObject.registerClass(
class SpotlightDim extends Clutter.Actor {
    _init() {
        super._init({ reactive: false });
        this._hole = [0, 0, 0];  // left, top, side
        this._colors = new Map();  // by the alpha painted
    }

    setHole(left, top, side) {
        this._hole = [left, top, side];
    }

    vfunc_get_paint_volume(volume) {
        volume.set_width(this.width);
        volume.set_height(this.height);
        return true;
    }

    vfunc_paint_node(root) {
        const alpha = Math.round(DIM_ALPHA * this.get_paint_opacity() / 255);
        if (!this._colors.has(alpha))
            this._colors.set(alpha, black(alpha));
        const node = Clutter.ColorNode.new(this._colors.get(alpha));
        const { width, height } = this;
        const [left, top, side] = this._hole;
        const bands = [
            [0, 0, width, top], [0, top + side, width, height],
            [0, top, left, top + side], [left + side, top, width, top + side],
        ];
        for (const [x1, y1, x2, y2] of bands) {
            const box = [Math.max(x1, 0), Math.max(y1, 0), Math.min(x2, width), Math.min(y2, height)];
            if (box[2] > box[0] && box[3] > box[1])
                node.add_rectangle(Clutter.ActorBox.new(...box));
        }
        root.add_child(node);
    }
});

// A rounded rectangle path in a cairo context.
function roundedRect(cr, x, y, width, height, radius) {
    cr.newSubPath();
    cr.arc(x + width - radius, y + radius, radius, -Math.PI / 2, 0);
    cr.arc(x + width - radius, y + height - radius, radius, 0, Math.PI / 2);
    cr.arc(x + radius, y + height - radius, radius, Math.PI / 2, Math.PI);
    cr.arc(x + radius, y + radius, radius, Math.PI, 3 * Math.PI / 2);
    cr.closePath();
}

// A picture painted with cairo once per size; moving it repaints nothing.
function cairoActor(paint) {
    const area = new St.DrawingArea({ reactive: false });
    area.connect('repaint', () => {
        const cr = area.get_context();
        const [width, height] = area.get_surface_size();
        cr.setOperator(CLEAR);
        cr.paint();
        cr.setOperator(OVER);
        paint(cr, width, height);
        cr.$dispose();
    });
    return area;
}

// The overlay: never reactive, so clicks go to the windows below and it can
// take no focus; on the stage above the UI group, so above every window,
// fullscreen ones included, and outside what the lens enlarges; on the
// monitor under the pointer.
class Overlay {
    constructor() {
        this._mode = MODE_SPOTLIGHT;
        this._size = 310;
        this._monitor = null;
        this._pointer = [0, 0];
        this._signals = [];
        this._unredirectOff = false;
        this.shown = false;

        this.actor = new St.Widget({ name: 'velt-overlay', reactive: false, visible: false });
        this.actor.opacity = 0;
        // Spotlight: dimmed all around a tile with the clear hole.
        this._dim = new SpotlightDim();
        this._hole = cairoActor((cr, width, height) => {
            cr.setSourceRGBA(0, 0, 0, 0.8);
            cr.rectangle(0, 0, width, height);
            roundedRect(cr, 0, 0, width, height, width * 0.33);
            cr.setFillRule(EVEN_ODD);
            cr.fill();
        });
        // Pointer dot: a red disc of 40 in a white rim of 2.
        this._dot = cairoActor(cr => {
            cr.setOperator(SOURCE);
            cr.setSourceRGBA(1, 1, 1, 0.8);
            cr.arc(22, 22, 22, 0, 2 * Math.PI);
            cr.fill();
            cr.setSourceRGBA(1, 0, 0, 0.7);
            cr.arc(22, 22, 20, 0, 2 * Math.PI);
            cr.fill();
        });
        this._dot.set_size(44, 44);
        // Magnifier: the screen, twice enlarged about the pointer, inside
        // the lens; a dark band of 5 under a light band of 3 along its edge.
        this._lens = new Clutter.Actor({ clip_to_allocation: true });
        this._lensPicture = new LensPicture();
        this._lens.add_child(this._lensPicture);
        this._clip = null;
        try {
            this._clip = new RoundedClip();
            this._lens.add_effect(this._clip);
        } catch (e) {
            logError(e, 'VELT Mouse Assistant: the lens gets square corners');
        }
        this._rim = cairoActor((cr, width) => {
            const radius = width * 0.33;
            cr.setSourceRGBA(0.1, 0.1, 0.1, 0.4);
            roundedRect(cr, 2.5, 2.5, width - 5, width - 5, radius - 2.5);
            cr.setLineWidth(5);
            cr.stroke();
            cr.setSourceRGBA(0.8, 0.8, 0.8, 0.6);
            roundedRect(cr, 1.5, 1.5, width - 3, width - 3, radius - 1.5);
            cr.setLineWidth(3);
            cr.stroke();
        });
        for (const child of [this._dim, this._hole, this._dot, this._lens, this._rim])
            this.actor.add_child(child);
        global.stage.add_child(this.actor);
    }

    destroy() {
        this._stopFollowing();
        this._setUnredirect(true);
        this._lensPicture.set_source(null);
        this.actor.destroy();
    }

    show(mode, size) {
        this._mode = mode;
        this._size = Math.min(Math.max(size, SMALLEST_SIZE), LARGEST_SIZE) || 310;
        this.shown = true;
        this._dim.visible = this._hole.visible = this._mode === MODE_SPOTLIGHT;
        this._dot.visible = this._mode === MODE_POINTER_DOT;
        this._lens.visible = this._rim.visible = this._mode === MODE_MAGNIFIER;
        // Cloned only while the lens shows: otherwise every change of the
        // screen would reach the clone for nothing.
        this._lensPicture.set_source(this._mode === MODE_MAGNIFIER ? Main.uiGroup : null);
        this._monitor = null;
        this._layout(true);
        // A fullscreen window would otherwise be shown past the stage.
        this._setUnredirect(false);
        global.stage.set_child_above_sibling(this.actor, null);
        this.actor.remove_all_transitions();
        this.actor.opacity = 0;
        this.actor.show();
        this.actor.ease({ opacity: 255, duration: FADE_MS, mode: Clutter.AnimationMode.LINEAR });
        this._startFollowing();
    }

    setSize(size) {
        this._size = Math.min(Math.max(size, SMALLEST_SIZE), LARGEST_SIZE) || 310;
        this._layout(true);
    }

    fadeOut() {
        if (!this.actor.visible)
            return;
        this.actor.remove_all_transitions();
        this.actor.opacity = 255;
        this.actor.ease({ opacity: 0, duration: FADE_MS, mode: Clutter.AnimationMode.LINEAR });
    }

    hide() {
        this.shown = false;
        this.actor.remove_all_transitions();
        this.actor.hide();
        this.actor.opacity = 0;
        this._lensPicture.set_source(null);
        this._stopFollowing();
        this._setUnredirect(true);
    }

    _setUnredirect(on) {
        if (on === !this._unredirectOff)
            return;
        this._unredirectOff = !on;
        if (global.compositor?.disable_unredirect) {
            if (on)
                global.compositor.enable_unredirect();
            else
                global.compositor.disable_unredirect();
        } else if (on) {
            Meta.enable_unredirect_for_display(global.display);
        } else {
            Meta.disable_unredirect_for_display(global.display);
        }
    }

    // The pointer is read once in every frame, before the stage lays out and
    // paints it. A hardware cursor moves without a frame: the cursor tracker
    // says so, and a frame follows (one, however fast the mouse reports).
    _startFollowing() {
        if (this._signals.length > 0)
            return;
        const tracker = global.backend?.get_cursor_tracker?.() ??
            Meta.CursorTracker.get_for_display(global.display);
        this._signals.push([tracker, tracker.connect('position-invalidated', () => this.actor.queue_redraw())]);
        this._signals.push([global.stage, global.stage.connect('before-update', () => this._layout(false))]);
        this._signals.push([Main.layoutManager,
            Main.layoutManager.connect('monitors-changed', () => this._layout(true))]);
    }

    _stopFollowing() {
        for (const [object, id] of this._signals)
            object.disconnect(id);
        this._signals = [];
    }

    _monitorAt(x, y) {
        const monitors = Main.layoutManager.monitors;
        return monitors.find(m => x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height) ??
            Main.layoutManager.primaryMonitor ?? monitors[0] ?? null;
    }

    // Puts every piece where the pointer is now; all, or only when it moved.
    _layout(all) {
        if (!this.shown)
            return;
        const [x, y] = global.get_pointer();
        const monitor = this._monitorAt(x, y);
        if (!monitor)
            return;
        if (monitor !== this._monitor) {
            this._monitor = monitor;
            this.actor.set_position(monitor.x, monitor.y);
            // A point wider and taller than the monitor, as on X11.
            this.actor.set_size(monitor.width + 1, monitor.height + 1);
            all = true;
        } else if (!all && x === this._pointer[0] && y === this._pointer[1]) {
            return;
        }
        this._pointer = [x, y];
        const px = x - monitor.x;
        const py = y - monitor.y;
        if (this._mode === MODE_SPOTLIGHT) {
            // The hole's side is the size; an odd size leans up and left, as
            // on the other desktops.
            const size = this._size;
            const half = Math.trunc(size / 2);
            const left = px - half;
            const top = py + half - size;
            if (all) {
                this._hole.set_size(size, size);
                this._dim.set_size(monitor.width + 1, monitor.height + 1);
            }
            this._hole.set_position(left, top);
            this._dim.setHole(left, top, size);
        } else if (this._mode === MODE_POINTER_DOT) {
            this._dot.set_position(px - 22, py - 22);
        } else {
            const lens = Math.trunc(this._size / 8) * 8;
            const h = lens / 2;
            const dx = Math.min(Math.max(px - h, 0), monitor.width - lens);
            const dy = Math.min(Math.max(py - h, 0), monitor.height - lens);
            if (all) {
                this._lens.set_size(lens, lens);
                this._rim.set_size(lens, lens);
                this._lensPicture.set_size(global.stage.width * 2, global.stage.height * 2);
            }
            this._clip?.setBounds(lens, lens * 0.33);
            this._lens.set_position(dx, dy);
            this._rim.set_position(dx, dy);
            // A point q of the lens shows what lies halfway between q and the
            // pointer: the picture (the whole stage) enlarged twice about it.
            this._lensPicture.set_position(-2 * monitor.x - px - dx, -2 * monitor.y - py - dy);
        }
    }
}

// The agent's menu as the top bar shows it: the items it knows, each once,
// in the agent's order, with a line of text each.
function menuItems(items) {
    const shown = [];
    for (const entry of Array.isArray(items) ? items : []) {
        const [item, text] = Array.isArray(entry) ? entry : [];
        if (MENU_ITEMS.includes(item) && !shown.some(([known]) => known === item))
            shown.push([item, String(text).split('\n')[0].slice(0, LONGEST_MENU_TEXT)]);
    }
    return shown;
}

const AgentIndicator = GObject.registerClass(
class AgentIndicator extends PanelMenu.Button {
    _init(items, activate) {
        super._init(0.0, 'VELT Mouse Assistant');
        this.add_child(new St.Icon({
            gicon: new Gio.ThemedIcon({ names: ['velt-mouse-assistant', 'input-mouse-symbolic'] }),
            style_class: 'system-status-icon',
        }));
        for (const [item, text] of items)
            this.menu.addAction(text, () => activate(item));
    }
});

class VeltShellExtension {
    constructor() {
        this._exported = null;
        this._agent = null;  // the unique name of quorin.driver.velt's owner
        this._nameId = 0;
        this._watchId = 0;
        this._startupId = 0;
        this._focusId = 0;
        this._focused = ['', '', ''];
        this._indicator = null;
        this._overlay = null;
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
        this._agent = null;
        if (this._focusId)
            global.display.disconnect(this._focusId);
        this._focusId = 0;
        this._removeIndicator();
        this._overlay?.destroy();
        this._overlay = null;
        if (this._nameId)
            Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        if (this._exported)
            this._exported.unexport();
        this._exported = null;
        this._hidden = [];
    }

    _start() {
        this._overlay = new Overlay();
        this._exported = Gio.DBusExportedObject.wrapJSObject(SHELL_INTERFACE, this._agentOnly());
        this._exported.export(Gio.DBus.session, SHELL_PATH);
        this._focusId = global.display.connect('notify::focus-window', () => this._focusChanged());
        this._focused = this._focusedWindow();
        // A program that took the name first is replaced where it allows
        // that; the agent heeds the name only while the shell holds it.
        this._nameId = Gio.bus_own_name(Gio.BusType.SESSION, SHELL_NAME,
            Gio.BusNameOwnerFlags.REPLACE, null, null, null);
        this._watchId = Gio.bus_watch_name(Gio.BusType.SESSION, AGENT_NAME,
            Gio.BusNameWatcherFlags.NONE,
            (bus, name, owner) => this._agentAppeared(owner), () => this._agentGone());
    }

    // What the bus sees: each method, answered once the caller is known to
    // be the agent.
    _agentOnly() {
        const methods = {};
        for (const [method, answer] of Object.entries(AGENT_ONLY)) {
            methods[`${method}Async`] = (parameters, invocation) =>
                this._fromAgent(invocation, () => {
                    try {
                        const result = this[method](...parameters);
                        invocation.return_value(answer ? new GLib.Variant(answer, result) : null);
                    } catch (e) {
                        logError(e, `VELT Mouse Assistant: ${method}`);
                        invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', e.message);
                    }
                });
        }
        Object.defineProperty(methods, 'Showing', { get: () => this.Showing });
        return methods;
    }

    // Runs answer when invocation comes from the agent; the agent's name may
    // have changed hands since the watch last told, so the bus is asked
    // before a caller is refused.
    _fromAgent(invocation, answer) {
        const sender = invocation.get_sender();
        if (sender && sender === this._agent) {
            answer();
            return;
        }
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetNameOwner', new GLib.Variant('(s)', [AGENT_NAME]),
            new GLib.VariantType('(s)'), Gio.DBusCallFlags.NONE, -1, null, (bus, result) => {
                let owner = null;
                try {
                    [owner] = bus.call_finish(result).deepUnpack();
                } catch (e) {
                    owner = null;
                }
                if (owner && owner === sender) {
                    this._agent = owner;
                    answer();
                } else {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                        'only the VELT Mouse Assistant agent may ask this');
                }
            });
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

    ShowOverlay(mode, size) {
        this._overlay.show(mode, size);
    }

    SetOverlaySize(size) {
        this._overlay.setSize(size);
    }

    FadeOutOverlay() {
        this._overlay.fadeOut();
    }

    HideOverlay() {
        this._overlay.hide();
    }

    GetPointer() {
        const [x, y] = global.get_pointer();
        return [x, y];
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
        if (this._overlay?.shown)
            showing.push('overlay');
        return showing;
    }

    GetFocusedWindow() {
        return this._focused;
    }

    _tellAgentFocus() {
        if (!this._agent)
            return;
        Gio.DBus.session.emit_signal(this._agent, SHELL_PATH, SHELL_NAME, 'FocusedWindowChanged',
            new GLib.Variant('(sss)', this._focused));
    }

    GetOpenWindows() {
        const windows = global.display.get_tab_list(Meta.TabList.NORMAL_ALL, null)
            .filter(window => !window.is_skip_taskbar())
            .map(window => this._describe(window));
        return [windows];
    }

    // (instance, class, application) of a window.
    _describe(window) {
        // The tracker names windows it cannot match "window:N".
        const id = Shell.WindowTracker.get_default().get_window_app(window)?.get_id() ?? '';
        const application = id.endsWith('.desktop') ? id.slice(0, -'.desktop'.length) : '';
        return [window.get_wm_class_instance() ?? '', window.get_wm_class() ?? '', application];
    }

    _focusedWindow() {
        const window = global.display.focus_window;
        return window ? this._describe(window) : ['', '', ''];
    }

    _focusChanged() {
        const focused = this._focusedWindow();
        if (focused.every((text, i) => text === this._focused[i]))
            return;
        this._focused = focused;
        this._tellAgentFocus();
    }

    _showingDesktop() {
        this._hidden = this._hidden.filter(w => w.get_display() !== null);
        return this._hidden.length > 0 && this._hidden.every(w => w.minimized);
    }

    _agentAppeared(owner) {
        this._agent = owner;
        this._tellAgentFocus();
        Gio.DBus.session.call(owner, AGENT_PATH, 'org.freedesktop.DBus.Properties', 'Get',
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
                if (!this._watchId || owner !== this._agent)
                    return;
                this._indicator = new AgentIndicator(menuItems(items), item => this._activate(item));
                Main.panel.addToStatusArea(AGENT_NAME, this._indicator);
            });
    }

    // An agent that ended, or crashed, leaves no overlay behind.
    _agentGone() {
        this._agent = null;
        this._removeIndicator();
        this._overlay?.hide();
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

// begin entry
function init() {
    return new VeltShellExtension();
}
// end entry
