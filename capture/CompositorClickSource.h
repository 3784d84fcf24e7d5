// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

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

// A source whose clicks a compositor reports over the session bus, taken from the owner of the
// compositor's name alone. The owner is known without waiting on the bus: looked up once, then
// followed through the bus's announcements.
class CompositorClickSource : public ClickSource, protected QDBusContext {
    Q_OBJECT
public:
    CompositorClickSource(const QString& compositorName, const QString& refusal);

protected:
    // Whether the call being served comes from the compositor; refuses it otherwise. Until the
    // look-up has answered nobody does, but compositors call only when asked to, after it.
    bool fromCompositor() const;

    bool m_started = false;
    // Counts the runs: an answer or a colour for an earlier run is dropped.
    quint64 m_run = 0;

private:
    QDBusServiceWatcher m_watcher;
    QString m_owner;
    const QString m_refusal;
};

} // namespace zwirl
