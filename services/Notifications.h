#pragma once

#include <QObject>
#include <QString>

namespace zwirl {

// One-line desktop notifications through the notification server on the session bus
// (org.freedesktop.Notifications). Nothing here waits for the server: every call is sent
// asynchronously from the main thread, so a slow or missing server never holds anyone up.
// The ids of delivered notifications are kept in $XDG_RUNTIME_DIR/zwirl/notifications, so that
// a later zwirl process of the same user can still take down an earlier one's notifications.
class Notifications : public QObject {
    Q_OBJECT
public:
    explicit Notifications(QObject* parent = nullptr);

    // Shows a silent notification titled "zwirl" with `message` as its text. From any thread;
    // returns at once.
    static void deliver(const QString& message);
    // Takes down every notification that this user's zwirl processes delivered and that is
    // still listed. From any thread; returns at once.
    static void removeAllDelivered();
    // Takes down one notification of ours.
    static void remove(uint id);

Q_SIGNALS:
    // The user clicked one of zwirl's notifications.
    void activated(uint id);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);
};

} // namespace zwirl
