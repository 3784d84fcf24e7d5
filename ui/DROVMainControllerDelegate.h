#pragma once

// What the main window asks of the application: start a run, stop it, close the window.
class DROVMainControllerDelegate {
public:
    virtual ~DROVMainControllerDelegate() = default;
    virtual void controllerStartAction() = 0;
    virtual void controllerStopAction() = 0;
    virtual void controllerCloseAction() = 0;
};
