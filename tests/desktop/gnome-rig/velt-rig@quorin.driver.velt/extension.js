// TESTS ONLY: installed by tests/desktop/desktop_rig.sh into the test user's
// home, never shipped. GNOME Shell refuses its screenshots and any pointer
// control to outside programs; the desktop tests get them here, inside the
// shell, on the bus name quorin.driver.velt.Rig:
//
//   TakePicture(s path): a PNG of the whole stage as composed (no cursor)
//   MovePointer(d x, d y): an absolute motion of a virtual pointer, as a
//     touchpad or a second mouse would move it
//   Click(): a left click of that pointer where it is
//   Settle(): closes the screenshot tool and the overview
//   Focus(s class): activates the window of that WM_CLASS (a Wayland app
//     id), as a click on it in the overview would; a window opened without
//     an activation token may not take the focus by itself
//   FocusedClass() -> s: the WM_CLASS (app id) of the focused window, for
//     when the agent runs: the agent's extension tells only the agent
//   Monitors() -> a(iiii): x, y, width, height of each monitor
//   AgentMenu() -> as: the texts of the agent's top-bar menu, in order
//   OverlaySettled(b shown, d x, d y): answers once a frame has been painted,
//     after the call, with the pointer at x, y and the agent's overlay (the
//     actor named velt-overlay) shown with its fade over (true) or hidden
//     (false); an error when none is within 10 s
//   FollowLag(d x, d y) -> (d ms, i frames, d interval, b presented): moves
//     the pointer, then waits for the first painted frame in which the
//     agent's overlay (the actor named velt-overlay) is centred on the new
//     place, and for the frame clock to present it: the ms to that, the
//     frames painted, the view's frame interval in ms (-1 ms: not within
//     1 s; -1 interval: the view tells none), and whether the time is the
//     presentation's (false: the end of the paint, on a shell whose stage
//     cannot hand its presentations to JavaScript)
//   Wiggle(d seconds) -> (i frames, d mean ms, d max ms): moves the pointer
//     on a circle, one step per frame, for that long; the stage's paint
//     times meanwhile
//
// This file serves GNOME Shell 43 and 44; for 45 and later the rig makes an
// ES module of it, with es-module/imports.js and es-module/entry.js in place
// of the parts between the "begin" and "end" markers.
/* exported init */
// begin imports
'use strict';

const { Clutter, Gio, GLib, Shell } = imports.gi;
const Main = imports.ui.main;
// end imports

const INTERFACE = `<node>
  <interface name="quorin.driver.velt.Rig">
    <method name="TakePicture"><arg name="path" type="s" direction="in"/></method>
    <method name="MovePointer">
      <arg name="x" type="d" direction="in"/><arg name="y" type="d" direction="in"/>
    </method>
    <method name="Click"/>
    <method name="Settle"/>
    <method name="Focus"><arg name="class" type="s" direction="in"/></method>
    <method name="FocusedClass"><arg name="class" type="s" direction="out"/></method>
    <method name="Monitors"><arg name="monitors" type="a(iiii)" direction="out"/></method>
    <method name="AgentMenu"><arg name="texts" type="as" direction="out"/></method>
    <method name="OverlaySettled">
      <arg name="shown" type="b" direction="in"/>
      <arg name="x" type="d" direction="in"/><arg name="y" type="d" direction="in"/>
    </method>
    <method name="FollowLag">
      <arg name="x" type="d" direction="in"/><arg name="y" type="d" direction="in"/>
      <arg name="ms" type="d" direction="out"/><arg name="frames" type="i" direction="out"/>
      <arg name="interval" type="d" direction="out"/>
      <arg name="presented" type="b" direction="out"/>
    </method>
    <method name="Wiggle">
      <arg name="seconds" type="d" direction="in"/>
      <arg name="frames" type="i" direction="out"/>
      <arg name="mean" type="d" direction="out"/><arg name="max" type="d" direction="out"/>
    </method>
  </interface>
</node>`;


class Rig {
    enable() {
        this._start = () => {
            const seat = Clutter.get_default_backend().get_default_seat();
            this._pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
            this._watchPresentations();
            this._exported = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
            this._exported.export(Gio.DBus.session, '/quorin/driver/velt/Rig');
            this._nameId = Gio.bus_own_name(Gio.BusType.SESSION, 'quorin.driver.velt.Rig',
                Gio.BusNameOwnerFlags.NONE, null, null, null);
        };
        if (Main.layoutManager._startingUp)
            this._startupId = Main.layoutManager.connect('startup-complete', this._start);
        else
            this._start();
    }

    disable() {
        if (this._startupId)
            Main.layoutManager.disconnect(this._startupId);
        if (this._nameId)
            Gio.bus_unown_name(this._nameId);
        this._exported?.unexport();
        this._stopWatchingPresentations();
        this._pointer = null;
    }

    TakePictureAsync([path], invocation) {
        const file = Gio.File.new_for_path(path);
        const stream = file.replace(null, false, Gio.FileCreateFlags.NONE, null);
        new Shell.Screenshot().screenshot(false, stream, (shooter, result) => {
            try {
                shooter.screenshot_finish(result);
                stream.close(null);
                invocation.return_value(null);
            } catch (e) {
                invocation.return_error_literal(Gio.DBusError, Gio.DBusError.FAILED, e.message);
            }
        });
    }

    // GNOME Shell 50 takes only one axis of the device's first motion; the
    // same motion twice lands whole.
    MovePointer(x, y) {
        for (let i = 0; i < 2; i++)
            this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), x, y);
    }

    ClickAsync(params, invocation) {
        this._pointer.notify_button(Clutter.CURRENT_TIME, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.PRESSED);
        GLib.timeout_add(GLib.PRIORITY_DEFAULT, 50, () => {
            this._pointer.notify_button(Clutter.CURRENT_TIME, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.RELEASED);
            invocation.return_value(null);
            return GLib.SOURCE_REMOVE;
        });
    }

    // Puts away what earlier checks left open: the overview, the screenshot
    // tool.
    Settle() {
        if (Main.screenshotUI.visible)
            Main.screenshotUI.close(true);
        Main.overview.hide();
    }

    AgentMenu() {
        const indicator = Main.panel.statusArea['quorin.driver.velt'];
        return indicator ? indicator.menu._getMenuItems().map(item => item.label.text) : [];
    }

    Focus(wmClass) {
        global.display.list_all_windows().find(w => w.get_wm_class() === wmClass)
            ?.activate(global.get_current_time());
    }

    FocusedClass() {
        return global.display.focus_window?.get_wm_class() ?? '';
    }

    Monitors() {
        return Main.layoutManager.monitors.map(m => [m.x, m.y, m.width, m.height]);
    }

    // On the stage; an older extension put it in the UI group.
    _overlay() {
        return [...global.stage.get_children(), ...Main.uiGroup.get_children()]
            .find(a => a.name === 'velt-overlay');
    }

    // Judged as the frame is about to be painted, its layout done.
    OverlaySettledAsync([shown, x, y], invocation) {
        let seen = 'no frame painted';
        const settled = () => {
            const [px, py] = global.get_pointer();
            const overlay = this._overlay();
            const visible = overlay?.visible ?? false;
            const fading = visible && overlay.get_transition('opacity') !== null;
            seen = `pointer at ${px}, ${py}, overlay ${visible ? `opacity ${overlay.opacity}` : 'hidden'}` +
                (fading ? ', fading' : '');
            if (px !== Math.round(x) || py !== Math.round(y))
                return false;
            return visible ? shown && overlay.opacity === 255 && !fading : !shown;
        };
        let ready = false;
        const before = global.stage.connect('before-paint', () => {
            ready = settled();
        });
        const done = error => {
            global.stage.disconnect(before);
            global.stage.disconnect(id);
            GLib.source_remove(timeout);
            if (error)
                invocation.return_error_literal(Gio.DBusError, Gio.DBusError.FAILED, error);
            else
                invocation.return_value(null);
        };
        // A frame after another until then: the last step of a fade may
        // leave nothing to repaint.
        const id = global.stage.connect('after-paint', () => {
            if (ready)
                done(null);
            else
                global.stage.queue_redraw();
        });
        const timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 10000, () => {
            done(`the overlay is not ${shown ? 'shown' : 'hidden'} (${seen})`);
            return GLib.SOURCE_REMOVE;
        });
        global.stage.queue_redraw();
    }

    // Where the overlay's visible piece is centred, in stage coordinates.
    _overlayCentre() {
        const overlay = this._overlay();
        if (!overlay || !overlay.visible)
            return null;
        const piece = overlay.get_children().find(
            a => a.visible && a.width > 0 && a.width === a.height && a.width < overlay.width);
        if (!piece)
            return null;
        return [overlay.x + piece.x + piece.width / 2, overlay.y + piece.y + piece.height / 2];
    }

    // The stage's "presented" signal carries a pointer (the frame's
    // ClutterFrameInfo) that some versions of GJS cannot hand to JavaScript:
    // they log "Unknown signal" for each frame and never run the handler.
    // Watched from the start: when frames are painted and none is presented,
    // the watch goes and the lag is taken at the end of the paint.
    _watchPresentations() {
        let painted = 0;
        this._presentedWorks = null;
        this._presentedId = global.stage.connect('presented', (stage, view) => {
            this._presentedWorks = true;
            this._onPresented?.(view);
        });
        this._probePaintId = global.stage.connect('after-paint', () => {
            if (!this._presentedWorks && ++painted < 5)
                return;
            // Decided: a frame was presented, or five were painted without.
            global.stage.disconnect(this._probePaintId);
            this._probePaintId = 0;
            if (!this._presentedWorks) {
                this._presentedWorks = false;
                global.stage.disconnect(this._presentedId);
                this._presentedId = 0;
            }
        });
    }

    _stopWatchingPresentations() {
        for (const id of [this._presentedId, this._probePaintId]) {
            if (id)
                global.stage.disconnect(id);
        }
        this._presentedId = this._probePaintId = 0;
        this._onPresented = null;
    }

    // -1 ms when the overlay was not there within a second.
    FollowLagAsync([x, y], invocation) {
        const start = GLib.get_monotonic_time();
        let frames = 0, painted = 0, paintedView = null, answered = false;
        const done = (ms, interval, presented) => {
            if (answered)
                return;
            answered = true;
            global.stage.disconnect(paintId);
            this._onPresented = null;
            GLib.source_remove(timeout);
            invocation.return_value(new GLib.Variant('(didb)', [ms, frames, interval, presented]));
        };
        const paintId = global.stage.connect('after-paint', (stage, view) => {
            frames++;
            if (!painted) {
                const centre = this._overlayCentre();
                if (!centre || Math.abs(centre[0] - x) > 1 || Math.abs(centre[1] - y) > 1)
                    return;
                painted = GLib.get_monotonic_time();
                paintedView = view;
            }
            if (this._presentedWorks === false)
                done((painted - start) / 1000, this._frameInterval(paintedView), false);
        });
        this._onPresented = view => {
            if (painted)
                done((GLib.get_monotonic_time() - start) / 1000, this._frameInterval(view), true);
        };
        const timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 1000, () => {
            done(-1, -1, false);
            return GLib.SOURCE_REMOVE;
        });
        this.MovePointer(x, y);
    }

    _frameInterval(view) {
        let rate = 0;
        try {
            rate = view.get_refresh_rate();
        } catch (e) {
            try {
                rate = view.get_frame_clock().get_refresh_rate();
            } catch (e2) {
                rate = 0;
            }
        }
        return rate > 0 ? 1000 / rate : -1;
    }

    WiggleAsync([seconds], invocation) {
        const monitor = Main.layoutManager.primaryMonitor;
        const cx = monitor.x + monitor.width / 2;
        const cy = monitor.y + monitor.height / 2;
        const radius = Math.min(monitor.width, monitor.height) / 4;
        const end = GLib.get_monotonic_time() + seconds * 1e6;
        let frames = 0, total = 0, max = 0, paintStart = 0, angle = 0;
        const before = global.stage.connect('before-paint', () => {
            paintStart = GLib.get_monotonic_time();
        });
        const after = global.stage.connect('after-paint', () => {
            const ms = (GLib.get_monotonic_time() - paintStart) / 1000;
            frames++;
            total += ms;
            max = Math.max(max, ms);
        });
        // One step every 16 ms: about a frame at 60 Hz.
        GLib.timeout_add(GLib.PRIORITY_DEFAULT, 16, () => {
            if (GLib.get_monotonic_time() >= end) {
                global.stage.disconnect(before);
                global.stage.disconnect(after);
                invocation.return_value(new GLib.Variant('(idd)', [frames, frames ? total / frames : 0, max]));
                return GLib.SOURCE_REMOVE;
            }
            angle += 0.05;
            this.MovePointer(cx + radius * Math.cos(angle), cy + radius * Math.sin(angle));
            return GLib.SOURCE_CONTINUE;
        });
    }
}

// begin entry
function init() {
    return new Rig();
}
// end entry
