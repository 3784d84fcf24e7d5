// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/BusNameOwner.h"

#include <QDBusConnectionInterface>

namespace zwirl {

BusNameOwner::BusNameOwner(const QString& name, const QString& refusal)
    : m_watcher(name, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForOwnerChange),
      m_refusal(refusal) {
    QObject::connect(
        &m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, &m_watcher,
        [this](const QString&, const QString&, const QString& owner) { m_owner = owner; });
    // Sent after the watcher's match rule, so that no change falls between the two.
    const QDBusPendingCall lookUp =
        QDBusConnection::sessionBus().interface()->asyncCall(QStringLiteral("GetNameOwner"), name);
    onReply<QString>(lookUp, &m_watcher, [this](const QDBusPendingReply<QString>& owner) {
        if (owner.isValid() && m_owner.isEmpty())
            m_owner = owner.value();
    });
}

bool BusNameOwner::admits(const QDBusContext& call) const {
    const QString sender = call.message().service();
    if (!sender.isEmpty() && sender == m_owner)
        return true;
    call.sendErrorReply(QDBusError::AccessDenied, m_refusal);
    return false;
}

} // namespace zwirl
