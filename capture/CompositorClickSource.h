// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

namespace zwirl {

// Calls `handle` with the reply to `call` once it comes, on `context`'s thread, without waiting.
template <class... Reply, class Handler>
void onReply(const QDBusPendingCall& call, QObject* context, Handler handle) {
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, handle] {
        watcher->deleteLater();
        handle(QDBusPendingReply<Reply...>(*watcher));
    });
}

// A source whose clicks a compositor reports over the session bus, taken only from the owner of
// the compositor's name: looked up once, then followed, so that no call waits on the bus.
class CompositorClickSource : public ClickSource, protected QDBusContext {
    Q_OBJECT
public:
    CompositorClickSource(const QString& compositorName, const QString& refusal)
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

protected:
    // Refuses a call from anyone but the compositor, which calls only when asked, after the lookup.
    bool fromCompositor() const {
        if (!m_owner.isEmpty() && message().service() == m_owner)
            return true;
        sendErrorReply(QDBusError::AccessDenied, m_refusal);
        return false;
    }

    bool m_started = false;
    // Counts the runs: an answer or a colour for an earlier run is dropped.
    quint64 m_run = 0;

private:
    QDBusServiceWatcher m_watcher;
    QString m_owner;
    const QString m_refusal;
};

} // namespace zwirl
