// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PropertyChangeAnnouncer.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaProperty>

#include <algorithm>
#include <utility>

namespace zwirl {

PropertyChangeAnnouncer::PropertyChangeAnnouncer(QDBusAbstractAdaptor* adaptor, QString path,
                                                 QStringList immediate)
    : QObject(adaptor), m_adaptor(*adaptor), m_path(std::move(path)),
      m_immediate(std::move(immediate)), m_announced(properties()) {
    m_throttle.setSingleShot(true);
    m_throttle.setInterval(100);
    // A coarse timer may fire early.
    m_throttle.setTimerType(Qt::PreciseTimer);
    connect(&m_throttle, &QTimer::timeout, this, &PropertyChangeAnnouncer::announce);
}

void PropertyChangeAnnouncer::update() {
    const QVariantMap now = properties();
    if (std::any_of(m_immediate.cbegin(), m_immediate.cend(),
                    [&](const QString& name) { return now[name] != m_announced[name]; }))
        announce();
    else if (!m_throttle.isActive())
        m_throttle.start();
}

// The adaptor's own properties, those of its interface, by name.
QVariantMap PropertyChangeAnnouncer::properties() const {
    const QMetaObject* meta = m_adaptor.metaObject();
    QVariantMap values;
    for (int k = meta->propertyOffset(); k < meta->propertyCount(); ++k)
        values.insert(QString::fromLatin1(meta->property(k).name()),
                      meta->property(k).read(&m_adaptor));
    return values;
}

void PropertyChangeAnnouncer::announce() {
    m_throttle.stop();
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    if (changed.isEmpty())
        return;
    m_announced = now;
    const QMetaObject* meta = m_adaptor.metaObject();
    const QString interface =
        QString::fromLatin1(meta->classInfo(meta->indexOfClassInfo("D-Bus Interface")).value());
    QDBusMessage signal =
        QDBusMessage::createSignal(m_path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace zwirl
