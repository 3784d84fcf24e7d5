#include "platform/UserNotificationCenter.h"

#include "platform/PlatformLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A notification server that does not answer within this time is taken as absent; the
// application must never hang on it.
constexpr int kCallTimeoutMs = 2000;

QDBusMessage callServer(const QString& method, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kCallTimeoutMs);
}

QString idsFile() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/zwirl/notifications");
}

} // namespace

UserNotificationCenter* UserNotificationCenter::defaultUserNotificationCenter() {
    static UserNotificationCenter* center = [] {
        auto* c = new UserNotificationCenter;
        if (auto* app = QCoreApplication::instance(); app && c->thread() != app->thread())
            c->moveToThread(app->thread());
        return c;
    }();
    return center;
}

UserNotificationCenter::UserNotificationCenter() {
    auto bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
    loadIds();
}

bool UserNotificationCenter::serverFormatsMarkup() {
    QMutexLocker lock(&m_mutex);
    if (m_markup < 0) {
        const QDBusMessage reply = callServer(QStringLiteral("GetCapabilities"), {});
        m_markup =
            reply.type() == QDBusMessage::ReplyMessage &&
            reply.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));
    }
    return m_markup == 1;
}

bool UserNotificationCenter::deliverNotification(UserNotification note) {
    const QString body =
        serverFormatsMarkup() ? note.informativeText.toHtmlEscaped() : note.informativeText;
    // The "default" action is a click on the notification itself, not a button.
    QStringList actions{QStringLiteral("default"), QString()};
    if (note.hasActionButton)
        actions << QStringLiteral("show") << QStringLiteral("Show");
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("de.tolvarek.zwirl")}};
    if (note.soundName.isEmpty())
        hints.insert(QStringLiteral("suppress-sound"), true);
    else
        hints.insert(QStringLiteral("sound-name"), note.soundName);

    const QDBusMessage reply =
        callServer(QStringLiteral("Notify"),
                   {QCoreApplication::applicationName(), 0u, QStringLiteral("de.tolvarek.zwirl"),
                    note.title, body, actions, hints, -1});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcPlatform) << "notification not delivered:" << reply.errorMessage();
        return false;
    }
    note.identifier = reply.arguments().value(0).toUInt();
    {
        QMutexLocker lock(&m_mutex);
        m_delivered.append(note);
    }
    storeIds();
    return true;
}

QList<UserNotification> UserNotificationCenter::deliveredNotifications() const {
    QMutexLocker lock(&m_mutex);
    return m_delivered;
}

void UserNotificationCenter::removeDeliveredNotification(const UserNotification& note) {
    closeOnServer(note.identifier);
    forget(note.identifier);
}

void UserNotificationCenter::removeAllDeliveredNotifications() {
    QList<UserNotification> all;
    {
        QMutexLocker lock(&m_mutex);
        all.swap(m_delivered);
    }
    for (const auto& note : all)
        closeOnServer(note.identifier);
    storeIds();
}

void UserNotificationCenter::actionInvoked(uint id, const QString& actionKey) {
    Q_UNUSED(actionKey);
    UserNotification note;
    {
        QMutexLocker lock(&m_mutex);
        auto it = std::find_if(m_delivered.cbegin(), m_delivered.cend(),
                               [id](const UserNotification& n) { return n.identifier == id; });
        if (it == m_delivered.cend())
            return; // another application's notification
        note = *it;
    }
    if (m_delegate)
        m_delegate->userNotificationCenterDidActivateNotification(this, note);
}

void UserNotificationCenter::notificationClosed(uint id, uint reason) {
    Q_UNUSED(reason);
    forget(id);
}

void UserNotificationCenter::closeOnServer(quint32 id) {
    if (id != 0)
        callServer(QStringLiteral("CloseNotification"), {id});
}

void UserNotificationCenter::forget(quint32 id) {
    {
        QMutexLocker lock(&m_mutex);
        const auto removed =
            m_delivered.removeIf([id](const UserNotification& n) { return n.identifier == id; });
        if (removed == 0)
            return;
    }
    storeIds();
}

void UserNotificationCenter::storeIds() {
    const QString path = idsFile();
    if (path.isEmpty())
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray text;
    for (const auto& note : deliveredNotifications())
        text += QByteArray::number(note.identifier) + '\n';
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text);
        file.commit();
    }
}

void UserNotificationCenter::loadIds() {
    QFile file(idsFile());
    if (!file.open(QIODevice::ReadOnly))
        return;
    QMutexLocker lock(&m_mutex);
    for (const QByteArray& line : file.readAll().split('\n')) {
        bool ok = false;
        const quint32 id = line.trimmed().toUInt(&ok);
        if (ok && id != 0)
            m_delivered.append(UserNotification{QStringLiteral("zwirl"), {}, {}, false, id});
    }
}
