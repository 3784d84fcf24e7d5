#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

// A notification as the application builds it; `identifier` is the server's id once delivered.
struct UserNotification {
    QString title;
    QString informativeText;
    QString soundName; // empty: silent
    bool hasActionButton = true;
    quint32 identifier = 0;
};

class UserNotificationCenter;

class UserNotificationCenterDelegate {
public:
    virtual ~UserNotificationCenterDelegate() = default;
    // The user clicked a notification that this process delivered.
    virtual void userNotificationCenterDidActivateNotification(UserNotificationCenter* center,
                                                               const UserNotification& note) = 0;
};

// Notifications through the desktop's notification server (org.freedesktop.Notifications on
// the session bus). The ids of delivered notifications are kept in the user's runtime folder,
// so that a later process of the same session can still remove them. Delivering is safe from
// any thread; the delegate is called on the main thread.
class UserNotificationCenter : public QObject {
    Q_OBJECT
public:
    static UserNotificationCenter* defaultUserNotificationCenter();

    void setDelegate(UserNotificationCenterDelegate* delegate) { m_delegate = delegate; }
    // Shows the notification at once. False when no notification server answered.
    bool deliverNotification(UserNotification note);
    QList<UserNotification> deliveredNotifications() const;
    void removeDeliveredNotification(const UserNotification& note);
    void removeAllDeliveredNotifications();

private Q_SLOTS:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    UserNotificationCenter();
    bool serverFormatsMarkup();
    void closeOnServer(quint32 id);
    void forget(quint32 id);
    void storeIds();
    void loadIds();

    UserNotificationCenterDelegate* m_delegate = nullptr;
    mutable QMutex m_mutex;
    QList<UserNotification> m_delivered;
    int m_markup = -1; // unknown until asked
};
