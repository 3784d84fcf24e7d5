// SPDX-License-Identifier: GPL-3.0-or-later
// zwirl's view into the shell: while zwirl asks for it, every left press anywhere on the screen
// is reported to zwirl with its position, the colour under it and whether it hit one of zwirl's
// own windows. Only the shell sees other clients' input and pixels on Wayland.
//
// The shell hands presses on application windows straight to the clients, so they seldom reach
// the stage's event signals; the pointer's button state does show them. While watching, the
// state is read every few milliseconds, and presses the stage does see (on the shell's own
// interface, or too short for a reading) are taken from there. Nothing runs while not watching.
//
// The library modules and the extension's folder come from the flavour of the extension that
// loads this file.

const ZWIRL_NAME = 'de.tolvarek.zwirl';
const ZWIRL_PATH = '/de/tolvarek/zwirl/Clicks';
const ZWIRL_APP_ID = 'de.tolvarek.zwirl.desktop';
const WATCHER_PATH = '/de/tolvarek/zwirl/Shell';
// The interfaces as zwirl defines them, installed beside this file: zwirl's, which takes the
// presses, and the one this extension serves to zwirl.
const ZWIRL_INTERFACE_FILE = 'de.tolvarek.zwirl.Clicks.xml';
const WATCHER_INTERFACE_FILE = 'de.tolvarek.zwirl.Shell.xml';
// Short enough to see presses held 30 ms or longer.
const POLL_INTERVAL_MS = 8;

export class ClickWatcher {
    constructor(lib, dir) {
        this._lib = lib;
        this._zwirlInterface = this._loadInterface(dir, ZWIRL_INTERFACE_FILE);
        this._watcherInterface = this._loadInterface(dir, WATCHER_INTERFACE_FILE);
        this._exported = null;
        this._timer = 0;
        this._eventHandler = 0;
        this._nameWatch = 0;
        this._held = false;
        this._watcherPid = 0;
        // Numbers the Watch calls; an Unwatch or a disabling takes a number too, so that a
        // Watch answered by the bus after either, or after a later Watch, starts nothing.
        this._watchCall = 0;
    }

    enable() {
        const {Gio} = this._lib;
        if (this._exported)
            return;
        this._exported = Gio.DBusExportedObject.wrapJSObject(this._watcherInterface, this);
        this._exported.export(Gio.DBus.session, WATCHER_PATH);
        // A zwirl with a run open waits for this to ask again (after a restart of the shell or
        // while the screen was locked).
        this._callZwirl('ShellReady', []);
    }

    disable() {
        this._watchCall++;
        this._stop();
        this._exported?.unexport();
        this._exported = null;
    }

    get Watching() {
        return this._timer !== 0;
    }

    // Only zwirl (the owner of its name) may make the shell watch; the presses go to it, and
    // the watching ends when it leaves the bus.
    WatchAsync(_params, invocation) {
        const {Gio, GLib} = this._lib;
        const sender = invocation.get_sender();
        const call = ++this._watchCall;
        const ask = (method, argument, replyType) => new Promise((resolve, reject) => {
            Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
                'org.freedesktop.DBus', method, new GLib.Variant('(s)', [argument]),
                new GLib.VariantType(replyType), Gio.DBusCallFlags.NONE, -1, null,
                (bus, result) => {
                    try {
                        resolve(bus.call_finish(result).deepUnpack()[0]);
                    } catch (e) {
                        reject(e);
                    }
                });
        });
        ask('GetNameOwner', ZWIRL_NAME, '(s)').then(owner => {
            if (owner !== sender)
                throw new Error('not zwirl');
            return ask('GetConnectionUnixProcessID', sender, '(u)');
        }).then(pid => {
            // Disabled meanwhile (the screen locked), the extension asks zwirl to watch again
            // once it is enabled; unwatched or asked again meanwhile, the later call decides.
            if (this._exported && call === this._watchCall) {
                this._watcherPid = pid;
                this._start(sender);
            }
            invocation.return_value(null);
        }).catch(() => {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                'Only zwirl may watch the clicks');
        });
    }

    Unwatch() {
        this._watchCall++;
        this._stop();
    }

    _start(sender) {
        const {Gio, GLib, Clutter} = this._lib;
        if (this._nameWatch)
            Gio.bus_unwatch_name(this._nameWatch);
        this._nameWatch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
            Gio.BusNameWatcherFlags.NONE, null, () => this._stop());
        if (this._timer)
            return;
        this._held = this._buttonDown();
        this._timer = GLib.timeout_add(GLib.PRIORITY_HIGH, POLL_INTERVAL_MS, () => {
            const [x, y] = global.get_pointer();
            const down = this._buttonDown();
            if (down && !this._held)
                this._report(x, y);
            this._held = down;
            return GLib.SOURCE_CONTINUE;
        });
        this._eventHandler = global.stage.connect('captured-event', (_stage, event) => {
            // Only button events have a button: asking any other for one is a critical error.
            const type = event.type();
            const isButton = type === Clutter.EventType.BUTTON_PRESS ||
                type === Clutter.EventType.BUTTON_RELEASE;
            if (isButton && event.get_button() === Clutter.BUTTON_PRIMARY) {
                if (type === Clutter.EventType.BUTTON_PRESS && !this._held) {
                    this._held = true;
                    this._report(...event.get_coords().map(Math.round));
                } else if (type === Clutter.EventType.BUTTON_RELEASE) {
                    this._held = false;
                }
            }
            return Clutter.EVENT_PROPAGATE;
        });
        this._exported.emit_property_changed('Watching', new GLib.Variant('b', true));
    }

    _stop() {
        const {Gio, GLib} = this._lib;
        if (this._nameWatch)
            Gio.bus_unwatch_name(this._nameWatch);
        this._nameWatch = 0;
        if (!this._timer)
            return;
        GLib.source_remove(this._timer);
        this._timer = 0;
        global.stage.disconnect(this._eventHandler);
        this._eventHandler = 0;
        this._exported?.emit_property_changed('Watching', new GLib.Variant('b', false));
    }

    _buttonDown() {
        return (global.get_pointer()[2] & this._lib.Clutter.ModifierType.BUTTON1_MASK) !== 0;
    }

    _report(x, y) {
        const {Shell} = this._lib;
        const own = this._hitsOwnWindow(x, y);
        new Shell.Screenshot().pick_color(x, y, (screenshot, result) => {
            let colour = [];
            try {
                const [, c] = screenshot.pick_color_finish(result);
                colour = [c.red / 255, c.green / 255, c.blue / 255];
            } catch {
                // Reported without a colour: the press still counts.
            }
            this._callZwirl('Pressed', [x, y, own, colour]);
        });
    }

    // The window that takes a press at the point (the shell's layers that let presses through,
    // as the notification tray, do not count) is one of zwirl's by its process or application.
    _hitsOwnWindow(x, y) {
        const {Clutter, Meta, Shell} = this._lib;
        let actor = global.stage.get_actor_at_pos(Clutter.PickMode.REACTIVE, x, y);
        while (actor && !(actor instanceof Meta.WindowActor))
            actor = actor.get_parent();
        const window = actor?.get_meta_window();
        if (!window)
            return false;
        const app = Shell.WindowTracker.get_default().get_window_app(window);
        return window.get_pid() === this._watcherPid || app?.get_id() === ZWIRL_APP_ID;
    }

    // The interface that the named file beside this one defines.
    _loadInterface(dir, name) {
        const [, contents] = dir.get_child(name).load_contents(null);
        return this._lib.Gio.DBusInterfaceInfo.new_for_xml(new TextDecoder().decode(contents));
    }

    // Calls a method of zwirl's interface with its arguments, typed as the interface says.
    // Never starts zwirl: a call while it is not running just fails.
    _callZwirl(method, args) {
        const {Gio, GLib} = this._lib;
        const signature = this._zwirlInterface.lookup_method(method).in_args
            .map(arg => arg.signature).join('');
        Gio.DBus.session.call(ZWIRL_NAME, ZWIRL_PATH, this._zwirlInterface.name, method,
            new GLib.Variant(`(${signature})`, args), null,
            Gio.DBusCallFlags.NO_AUTO_START, -1, null, (bus, result) => {
                try {
                    bus.call_finish(result);
                } catch {
                    // zwirl is gone or has no run open; the name watch ends the watching.
                }
            });
    }
}
