// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/DROVAppDelegate.h"

#include <QDBusContext>
#include <QTimer>
#include <QVariantMap>

namespace zwirl {

// zwirl on the session bus: org.freedesktop.Application and de.tolvarek.zwirl.Control, served
// through the adaptors generated from their definitions.
class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_PROPERTY(bool IsTracking READ IsTracking)
    Q_PROPERTY(uint SampleCount READ SampleCount)
    Q_PROPERTY(bool IsExporting READ IsExporting)
    Q_PROPERTY(double ExportProgress READ ExportProgress)
public:
    explicit ControlService(DROVAppDelegate& delegate, QObject* parent = nullptr);
    // Takes the name; nothing when this instance now serves it. Otherwise the instance that holds
    // it is handed `action` (none: it shows its window), and the result is the exit status.
    std::optional<int> registerOnSessionBus(const QString& action = {});
    // Like the above without taking the name; nothing when no instance serves it.
    static std::optional<int> forwardToRunningInstance(const QString& action);

    bool IsTracking() const { return m_delegate.isTracking(); }
    uint SampleCount() const { return uint(m_delegate.recordedSamples().size()); }
    bool IsExporting() const { return m_delegate.isExporting(); }
    double ExportProgress() const { return m_delegate.exportProgress(); }

public Q_SLOTS:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    // The properties whose values differ from the last announced ones.
    QVariantMap changes() const;
    void announce(const QVariantMap& changed);

    DROVAppDelegate& m_delegate;
    QVariantMap m_announced;
    QTimer m_throttle;
};

} // namespace zwirl
