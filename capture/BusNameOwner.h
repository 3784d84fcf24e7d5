// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusContext>
#include <QDBusPendingCallWatcher>
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

// The connection that owns a well-known name on the session bus (a compositor's), so that calls
// are taken from it alone without waiting on the bus: looked up once, then followed through the
// bus's announcements.
class BusNameOwner {
public:
    BusNameOwner(const QString& name, const QString& refusal);

    // Whether the call being served comes from the owner; refuses it with `refusal` otherwise.
    // Until the look-up has answered nobody owns the name, but the compositors call only when
    // asked to, after the look-up was sent, and the bus answers it first.
    bool admits(const QDBusContext& call) const;

private:
    QDBusServiceWatcher m_watcher;
    QString m_owner;
    const QString m_refusal;
};

} // namespace zwirl
