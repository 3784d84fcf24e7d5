// SPDX-License-Identifier: GPL-3.0-or-later
// KWin's effects see every change of the pointer's buttons, whichever window gets the press,
// but have no bus access: each left press is handed to zwirl's relay effect, which reads the
// pointer and calls zwirl. zwirl loads this effect for a run and unloads it when the run ends.
const RELAY = "zwirl_relay";
const LEFT_BUTTON = 1; // Qt.LeftButton

effects.mouseChanged.connect((pos, oldPos, buttons, oldButtons) => {
    if ((buttons & LEFT_BUTTON) && !(oldButtons & LEFT_BUTTON))
        effects.reconfigureEffect(RELAY);
});
