// The extension for GNOME Shell 43 and 44 (imports).
/* exported init */
const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;
const Me = imports.misc.extensionUtils.getCurrentExtension();

class ZwirlExtension {
    enable() {
        this._watcher = new Me.imports.ClickWatcher.ClickWatcher({Clutter, Gio, GLib, Meta, Shell});
        this._watcher.enable();
    }

    disable() {
        this._watcher.disable();
        this._watcher = null;
    }
}

function init() {
    return new ZwirlExtension();
}
