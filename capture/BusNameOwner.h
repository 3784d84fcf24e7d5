#pragma once

#include <QDBusServiceWatcher>

namespace zwirl {

// Which connection owns a well-known name on the session bus (a compositor's), so that calls
// can be taken from it alone. Follows the bus's announcements, which saves a look-up per call.
class BusNameOwner : public QObject {
    Q_OBJECT
public:
    explicit BusNameOwner(const QString& name, QObject* parent = nullptr);

    // Whether `sender` (a unique connection name) owns the name now. A new owner may speak
    // before its announcement is handled here, so a stranger is looked up once more.
    bool owns(const QString& sender);

private:
    QString m_name;
    QDBusServiceWatcher m_watcher;
    QString m_owner;
};

} // namespace zwirl
