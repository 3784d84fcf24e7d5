// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <utility>

namespace zwirl {

// Desktop notifications, sent asynchronously so that a slow or missing server holds no one up.
// Ids are kept in $XDG_RUNTIME_DIR/zwirl/notifications for a later process to take them down.
class Notifications : public QObject {
    Q_OBJECT
public:
    struct Options {
        QList<std::pair<QString, QString>> buttons; // the key activated() reports, the label
        QString group; // a notification replaces its group's previous one
    };

    explicit Notifications(QObject* parent = nullptr);

    // A silent notification titled "zwirl" with the application's icon. These three return at
    // once, from any thread.
    static void deliver(const QString& message, const Options& options = {});
    // Every notification this user's zwirl processes delivered that is still listed.
    static void removeAllDelivered();
    static void remove(uint id);

Q_SIGNALS:
    // The user clicked one of zwirl's notifications ("default") or one of its buttons.
    void activated(uint id, const QString& action);
};

} // namespace zwirl
