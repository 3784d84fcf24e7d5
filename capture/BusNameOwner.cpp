// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/BusNameOwner.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace zwirl {

BusNameOwner::BusNameOwner(const QString& name, QObject* parent)
    : QObject(parent),
      m_watcher(name, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForOwnerChange) {
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { m_owner = owner; });
    // Sent after the watcher's match rule, so that no change falls between the two.
    auto* lookUp = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().interface()->asyncCall(QStringLiteral("GetNameOwner"), name),
        this);
    connect(lookUp, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QString> owner = *call;
                if (owner.isValid() && m_owner.isEmpty())
                    m_owner = owner.value();
                call->deleteLater();
            });
}

bool BusNameOwner::owns(const QString& sender) const {
    return !sender.isEmpty() && sender == m_owner;
}

} // namespace zwirl
