// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusServiceWatcher>

namespace zwirl {

// Which connection owns a well-known name on the session bus (a compositor's), so that calls
// can be taken from it alone, without waiting on the bus for any call: the owner is looked up
// once, without waiting, and then follows the bus's announcements.
class BusNameOwner : public QObject {
    Q_OBJECT
public:
    explicit BusNameOwner(const QString& name, QObject* parent = nullptr);

    // Whether `sender` (a unique connection name) owns the name now. Before the look-up has
    // answered nobody does; the compositors report only when asked to, after it was sent, and
    // the bus answers it first.
    bool owns(const QString& sender) const;

private:
    QDBusServiceWatcher m_watcher;
    QString m_owner;
};

} // namespace zwirl
