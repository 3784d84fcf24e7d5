// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace zwirl {

// What the main window asks of the application: start a run, stop it, close the window; and
// whether a run is open.
class DROVMainControllerDelegate {
public:
    virtual ~DROVMainControllerDelegate() = default;
    virtual void controllerStartAction() = 0;
    virtual void controllerStopAction() = 0;
    virtual void controllerCloseAction() = 0;
    // The button of the set-up notice: what the desktop needs so that runs record every click.
    virtual void controllerSetUpAction() {}
    virtual bool isTracking() const = 0;
};

} // namespace zwirl
