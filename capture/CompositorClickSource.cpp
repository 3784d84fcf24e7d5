// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/CompositorClickSource.h"

#include <QDBusConnectionInterface>

namespace zwirl {

CompositorClickSource::CompositorClickSource(const QString& compositorName, const QString& refusal)
    : m_watcher(compositorName, QDBusConnection::sessionBus(),
                QDBusServiceWatcher::WatchForOwnerChange),
      m_refusal(refusal) {
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { m_owner = owner; });
    // Sent after the watcher's match rule, so that no change falls between the two.
    const QDBusPendingCall lookUp = QDBusConnection::sessionBus().interface()->asyncCall(
        QStringLiteral("GetNameOwner"), compositorName);
    onReply<QString>(lookUp, this, [this](const QDBusPendingReply<QString>& owner) {
        if (owner.isValid() && m_owner.isEmpty())
            m_owner = owner.value();
    });
}

bool CompositorClickSource::fromCompositor() const {
    const QString sender = message().service();
    if (!sender.isEmpty() && sender == m_owner)
        return true;
    sendErrorReply(QDBusError::AccessDenied, m_refusal);
    return false;
}

} // namespace zwirl
