#pragma once

#include <QObject>

namespace zwirl {

class DROVAppDelegate;

// zwirl on the session bus: owns the name de.tolvarek.zwirl and serves, at /de/tolvarek/zwirl,
// org.freedesktop.Application (activation and the actions start, stop, toggle-window, about,
// live-tone and quit, as the window and the tray menu offer them) and de.tolvarek.zwirl.Control
// (the state of runs and exports).
class ControlService : public QObject {
    Q_OBJECT
public:
    static const QString kServiceName;
    static const QString kObjectPath;

    explicit ControlService(DROVAppDelegate& delegate, QObject* parent = nullptr);

    enum class Registration { Registered, NameTaken, NoBus };
    Registration registerOnSessionBus();
    // Asks the instance that owns the name to show itself; false when it did not answer.
    static bool activateRunningInstance();

    // Shows the main window unless it is open.
    void activate();
    // Runs the named action; false for a name that is no action.
    bool activateAction(const QString& name);
    DROVAppDelegate& delegate() const { return m_delegate; }

private:
    DROVAppDelegate& m_delegate;
};

} // namespace zwirl
