// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

class QDBusAbstractAdaptor;

namespace zwirl {

// Announces the changes of a D-Bus adaptor's properties, all of them as its interface defines
// them, with org.freedesktop.DBus.Properties.PropertiesChanged: those that changed since the
// last announcement in one signal, at once when one of `immediate` is among them, otherwise at
// most ten times a second. Lives as long as the adaptor it reads.
class PropertyChangeAnnouncer : public QObject {
    Q_OBJECT
public:
    PropertyChangeAnnouncer(QDBusAbstractAdaptor* adaptor, QString path, QStringList immediate);

    // The properties may have changed.
    void update();

private:
    QVariantMap properties() const;
    void announce();

    const QDBusAbstractAdaptor& m_adaptor;
    const QString m_path;
    const QStringList m_immediate;
    QVariantMap m_announced;
    QTimer m_throttle;
};

} // namespace zwirl
