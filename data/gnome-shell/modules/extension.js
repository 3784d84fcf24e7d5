// SPDX-License-Identifier: GPL-3.0-or-later
// The extension for GNOME Shell 45 and later (ES modules).
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {ClickWatcher} from './ClickWatcher.js';

export default class ZwirlExtension extends Extension {
    enable() {
        this._watcher ??= new ClickWatcher({Clutter, Gio, GLib, Meta, Shell}, this.dir);
        this._watcher.enable();
    }

    disable() {
        this._watcher?.disable();
        this._watcher = null;
    }
}
