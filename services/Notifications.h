#pragma once

#include <QObject>
#include <QString>

namespace zwirl {

// Desktop notifications over org.freedesktop.Notifications. Every call is sent asynchronously
// from the main thread, so a slow or missing server never holds anyone up. Delivered ids are
// kept in $XDG_RUNTIME_DIR/zwirl/notifications, so that a later zwirl process can still take
// down an earlier one's notifications.
class Notifications : public QObject {
    Q_OBJECT
public:
    explicit Notifications(QObject* parent = nullptr);

    // A silent notification titled "zwirl". These three work from any thread, returning at once.
    static void deliver(const QString& message);
    // Every notification that this user's zwirl processes delivered and that is still listed.
    static void removeAllDelivered();
    static void remove(uint id);

Q_SIGNALS:
    // The user clicked one of zwirl's notifications.
    void activated(uint id);

private:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);
};

} // namespace zwirl
