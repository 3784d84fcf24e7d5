// SPDX-License-Identifier: GPL-3.0-or-later
// The extension for GNOME Shell 43 and 44 (imports).
/* exported init */
const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;
const Me = imports.misc.extensionUtils.getCurrentExtension();

class ZwirlExtension {
    enable() {
        this._watcher ??= new Me.imports.ClickWatcher.ClickWatcher(
            {Clutter, Gio, GLib, Meta, Shell}, Me.dir);
        this._watcher.enable();
    }

    disable() {
        this._watcher?.disable();
        this._watcher = null;
    }
}

/**
 * Called once by GNOME Shell 43 and 44 when it loads the extension.
 *
 * @returns {ZwirlExtension} what the shell enables and disables
 */
function init() {
    return new ZwirlExtension();
}
