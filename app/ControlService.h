#pragma once

#include <QDBusContext>
#include <QObject>

namespace zwirl {

class DROVAppDelegate;

// zwirl on the session bus: the name de.tolvarek.zwirl and, at /de/tolvarek/zwirl,
// org.freedesktop.Application (activation and the actions the window and the tray menu offer)
// and de.tolvarek.zwirl.Control (the state of runs and exports).
class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ControlService(DROVAppDelegate& delegate, QObject* parent = nullptr);
    // Takes the name; false when another instance holds it, which is asked to show itself.
    bool registerOnSessionBus();

public Q_SLOTS:
    // Shows the main window unless it is open.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    // start, stop, toggle-window, about, live-tone, quit.
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList& parameter,
                                     const QVariantMap& platformData);

private:
    DROVAppDelegate& m_delegate;
};

} // namespace zwirl
