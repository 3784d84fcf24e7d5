#include "capture/BusNameOwner.h"

#include <QDBusConnectionInterface>

namespace zwirl {

BusNameOwner::BusNameOwner(const QString& name, QObject* parent)
    : QObject(parent), m_name(name),
      m_watcher(name, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForOwnerChange) {
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { m_owner = owner; });
    m_owner = QDBusConnection::sessionBus().interface()->serviceOwner(m_name);
}

bool BusNameOwner::owns(const QString& sender) {
    if (sender.isEmpty())
        return false;
    if (sender == m_owner)
        return true;
    m_owner = QDBusConnection::sessionBus().interface()->serviceOwner(m_name);
    return sender == m_owner;
}

} // namespace zwirl
