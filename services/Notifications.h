// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <utility>

namespace zwirl {

// Desktop notifications over org.freedesktop.Notifications. Every call is sent asynchronously
// from the main thread, so a slow or missing server never holds anyone up. Delivered ids are
// kept in $XDG_RUNTIME_DIR/zwirl/notifications, so that a later zwirl process can still take
// down an earlier one's notifications.
class Notifications : public QObject {
    Q_OBJECT
public:
    // What a notification may carry besides its text.
    struct Options {
        // Buttons, each a key that activated() reports and a label.
        QList<std::pair<QString, QString>> buttons;
        // A notification of a named group takes the place of the group's previous one.
        QString group;
    };

    explicit Notifications(QObject* parent = nullptr);

    // A silent notification titled "zwirl" with the application's icon. These three work from
    // any thread, returning at once.
    static void deliver(const QString& message, const Options& options = {});
    // Every notification that this user's zwirl processes delivered and that is still listed.
    static void removeAllDelivered();
    static void remove(uint id);

Q_SIGNALS:
    // The user clicked one of zwirl's notifications ("default") or one of its buttons.
    void activated(uint id, const QString& action);

private:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);
};

} // namespace zwirl
