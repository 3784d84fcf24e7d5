// SPDX-License-Identifier: GPL-3.0-or-later
// Reports each left press that zwirl's presses effect hands over (as a reconfiguration of this
// effect) to the zwirl that loaded it: where the pointer is and whether the window there is one
// of zwirl's own. Nothing is drawn; the scene stays KWin's.
import QtQuick
import org.kde.kwin

SceneEffect {
    id: relay

    // The connection of the zwirl that loaded this effect and its process, learnt once; reports
    // go to that connection alone, so a press never starts a zwirl that has gone.
    property string zwirl: ""
    property int zwirlPid: 0

    function ownWindowAt(point) {
        const windows = Workspace.windowAt(point, 1);
        const window = windows.length > 0 ? windows[0] : null;
        return window !== null &&
            (window.pid === zwirlPid || window.desktopFileName === "de.tolvarek.zwirl");
    }

    // A zwirl that went without unloading its effects (it was killed) leaves this relay idle and
    // has the presses effect unloaded, so that nothing runs at a press. The call is delivered
    // within KWin at once, so it is made once no handler of the presses effect is running; an
    // effect cannot unload itself that way.
    function unloadPresses() {
        zwirl = "";
        unloadPressesCall.call();
    }

    DBusCall {
        id: owner
        service: "org.freedesktop.DBus"
        path: "/org/freedesktop/DBus"
        dbusInterface: "org.freedesktop.DBus"
        method: "GetNameOwner"
        arguments: ["de.tolvarek.zwirl"]
        onFinished: reply => {
            relay.zwirl = reply[0];
            pid.arguments = [reply[0]];
            pid.call();
        }
        onFailed: Qt.callLater(relay.unloadPresses)
    }
    DBusCall {
        id: pid
        service: "org.freedesktop.DBus"
        path: "/org/freedesktop/DBus"
        dbusInterface: "org.freedesktop.DBus"
        method: "GetConnectionUnixProcessID"
        onFinished: reply => relay.zwirlPid = reply[0]
    }
    DBusCall {
        id: pressed
        service: relay.zwirl
        path: "/de/tolvarek/zwirl/Presses"
        dbusInterface: "de.tolvarek.zwirl.Presses"
        method: "Pressed"
        onFailed: Qt.callLater(relay.unloadPresses)
    }
    DBusCall {
        id: unloadPressesCall
        service: "org.kde.KWin"
        path: "/Effects"
        dbusInterface: "org.kde.kwin.Effects"
        method: "unloadEffect"
        arguments: ["zwirl_presses"]
    }
    Component.onCompleted: owner.call()

    onConfigurationChanged: {
        if (zwirl === "")
            return;
        const point = Workspace.cursorPos;
        pressed.arguments = [Math.round(point.x), Math.round(point.y), ownWindowAt(point)];
        pressed.call();
    }
}
