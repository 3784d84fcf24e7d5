// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/Notifications.h"

#include "services/ServicesLog.h"

#include "NotificationServer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

namespace zwirl {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kDesktopEntry = QStringLiteral("de.tolvarek.zwirl");

QDBusPendingCall callServer(const QString& method, const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().asyncCall(message);
}

// Runs `then` with the reply once the server has answered; at once when it has, since a new
// watcher of a call that another watcher saw finish is never told.
template <typename Reply, typename Then>
void whenAnswered(const QDBusPendingCall& pending, Then then) {
    if (pending.isFinished())
        return then(QDBusPendingReply<Reply>(pending));
    auto* watcher = new QDBusPendingCallWatcher(pending, qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                     [then = std::move(then)](QDBusPendingCallWatcher* finished) {
                         then(QDBusPendingReply<Reply>(*finished));
                         finished->deleteLater();
                     });
}

// The last Notify call of each group: its answer is the id that the group's next one replaces.
QHash<QString, QDBusPendingCall>& lastOfGroup() {
    static QHash<QString, QDBusPendingCall> calls;
    return calls;
}

// Everything below runs on the main thread, so the id file needs no lock.
void onMainThread(std::function<void()> work) {
    if (qApp)
        QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
}

QString idFile() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/zwirl/notifications");
}

QList<uint> storedIds() {
    QList<uint> ids;
    QFile file(idFile());
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (const uint id = line.trimmed().toUInt())
                ids.append(id);
    return ids;
}

void storeIds(const QList<uint>& ids) {
    const QString path = idFile();
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return;
    QByteArray text;
    for (uint id : ids)
        text += QByteArray::number(id) + '\n';
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        qCWarning(lcServices) << "cannot keep the notification ids in" << path;
}

void forget(uint id) {
    QList<uint> ids = storedIds();
    if (ids.removeAll(id) > 0)
        storeIds(ids);
}

void close(uint id) {
    callServer(QStringLiteral("CloseNotification"), {id});
}

void sendNotify(const QString& message, bool markup, const Notifications::Options& options) {
    // The "default" action is a click on the notification itself, not a button.
    QStringList actions{QStringLiteral("default"), QString()};
    for (const auto& [key, label] : options.buttons)
        actions << key << label;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), kDesktopEntry},
                            {QStringLiteral("suppress-sound"), true}};
    const QString body = markup ? message.toHtmlEscaped() : message;
    // The application's icon goes by its name in the icon theme, which is the desktop id.
    const auto send = [=](uint replaces) {
        const QDBusPendingCall pending = callServer(
            QStringLiteral("Notify"), {QStringLiteral("zwirl"), replaces, kDesktopEntry,
                                       QStringLiteral("zwirl"), body, actions, hints, -1});
        if (!options.group.isEmpty())
            lastOfGroup().insert(options.group, pending);
        whenAnswered<uint>(pending, [](const QDBusPendingReply<uint>& reply) {
            if (reply.isError())
                qCWarning(lcServices) << "notification not delivered:" << reply.error().message();
            else if (QList<uint> ids = storedIds(); !ids.contains(reply.value()))
                storeIds(ids << reply.value());
        });
    };
    const auto previous = lastOfGroup().constFind(options.group);
    if (options.group.isEmpty() || previous == lastOfGroup().cend())
        return send(0);
    whenAnswered<uint>(*previous, [send](const QDBusPendingReply<uint>& reply) {
        send(reply.isValid() ? reply.value() : 0);
    });
}

} // namespace

Notifications::Notifications(QObject* parent) : QObject(parent) {
    auto* server = new OrgFreedesktopNotificationsInterface(kService, kPath,
                                                            QDBusConnection::sessionBus(), this);
    connect(server, &OrgFreedesktopNotificationsInterface::ActionInvoked, this,
            [this](uint id, const QString& actionKey) {
                if (storedIds().contains(id)) // not another application's notification
                    Q_EMIT activated(id, actionKey);
            });
    connect(server, &OrgFreedesktopNotificationsInterface::NotificationClosed, this, forget);
}

void Notifications::deliver(const QString& message, const Options& options) {
    onMainThread([message, options] {
        // Whether the server reads markup decides whether the text is escaped; asked once.
        static std::optional<bool> serverReadsMarkup;
        if (serverReadsMarkup)
            return sendNotify(message, *serverReadsMarkup, options);
        whenAnswered<QStringList>(callServer(QStringLiteral("GetCapabilities")),
                                  [message, options](const QDBusPendingReply<QStringList>& reply) {
                                      serverReadsMarkup =
                                          reply.isValid() && reply.value().contains(u"body-markup");
                                      sendNotify(message, *serverReadsMarkup, options);
                                  });
    });
}

void Notifications::removeAllDelivered() {
    onMainThread([] {
        const QList<uint> ids = storedIds();
        storeIds({});
        for (uint id : ids)
            close(id);
    });
}

void Notifications::remove(uint id) {
    onMainThread([id] {
        forget(id);
        close(id);
    });
}

} // namespace zwirl
