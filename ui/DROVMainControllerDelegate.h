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
    virtual bool isTracking() const = 0;
};

} // namespace zwirl
