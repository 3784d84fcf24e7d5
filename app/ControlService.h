// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusContext>
#include <QObject>

#include <optional>

namespace zwirl {

class DROVAppDelegate;

// zwirl on the session bus: the name de.tolvarek.zwirl and, at /de/tolvarek/zwirl,
// org.freedesktop.Application (activation and the actions the window and the tray menu offer)
// and de.tolvarek.zwirl.Control (the state of runs and exports, as methods and as properties
// that announce their changes), served by an adaptor generated from
// data/dbus/de.tolvarek.zwirl.Control.xml that reads the properties and calls the methods below.
class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
    Q_PROPERTY(bool IsTracking READ IsTracking)
    Q_PROPERTY(uint SampleCount READ SampleCount)
    Q_PROPERTY(bool IsExporting READ IsExporting)
    Q_PROPERTY(double ExportProgress READ exportProgress)
public:
    explicit ControlService(DROVAppDelegate& delegate, QObject* parent = nullptr);
    // Takes the name; nothing when this instance now serves it. When another instance holds
    // it, that one is handed `action` (none: it shows its window), and the result is this
    // process's exit status: 0 when the running instance took the request.
    std::optional<int> registerOnSessionBus(const QString& action = {});
    // Hands `action` (none: show the window) to the instance that serves the name; nothing when
    // none does. Never starts one through bus activation. The result is the exit status.
    static std::optional<int> forwardToRunningInstance(const QString& action);

    // de.tolvarek.zwirl.Control.
    bool IsTracking() const;
    uint SampleCount() const;
    bool IsExporting() const;
    double exportProgress() const;

public Q_SLOTS:
    // Shows the main window unless it is open.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    // start, stop, toggle-window, about, debug, live-tone, set-up-clicks, quit.
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList& parameter,
                                     const QVariantMap& platformData);

private:
    DROVAppDelegate& m_delegate;
};

} // namespace zwirl
