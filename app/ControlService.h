// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/DROVAppDelegate.h"

#include <QDBusContext>
#include <QTimer>
#include <QVariantMap>

namespace zwirl {

// zwirl on the session bus: org.freedesktop.Application, and de.tolvarek.zwirl.Control through
// the adaptor generated from data/dbus/, which reads the properties and calls the methods below.
class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
    Q_PROPERTY(bool IsTracking READ IsTracking)
    Q_PROPERTY(uint SampleCount READ SampleCount)
    Q_PROPERTY(bool IsExporting READ IsExporting)
    Q_PROPERTY(double ExportProgress READ exportProgress)
public:
    explicit ControlService(DROVAppDelegate& delegate, QObject* parent = nullptr);
    // Takes the name; nothing when this instance now serves it. When another one holds it, that
    // one is handed `action` (none: it shows its window), and the result is the exit status.
    std::optional<int> registerOnSessionBus(const QString& action = {});
    // Hands `action` to the instance that serves the name, without starting one through bus
    // activation; nothing when none does. The result is the exit status.
    static std::optional<int> forwardToRunningInstance(const QString& action);

    bool IsTracking() const { return m_delegate.isTracking(); }
    uint SampleCount() const { return uint(m_delegate.recordedSamples().size()); }
    bool IsExporting() const { return m_delegate.isExporting(); }
    double exportProgress() const { return m_delegate.exportProgress(); }

public Q_SLOTS:
    // Shows the main window unless it is open.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    // start, stop, toggle-window, about, debug, live-tone, set-up-clicks, quit.
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList& parameter,
                                     const QVariantMap& platformData);

private:
    QVariantMap properties() const;
    // PropertiesChanged with the properties that changed since the last announcement.
    void announce();

    DROVAppDelegate& m_delegate;
    QVariantMap m_announced;
    QTimer m_throttle;
};

} // namespace zwirl
