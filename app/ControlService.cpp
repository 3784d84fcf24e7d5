// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ControlService.h"

#include "app/AppLog.h"

#include "ApplicationAdaptor.h"
#include "ControlAdaptor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace zwirl {

namespace {
const QString kName = QStringLiteral("de.tolvarek.zwirl");
const QString kPath = QStringLiteral("/de/tolvarek/zwirl");
} // namespace

ControlService::ControlService(DROVAppDelegate& delegate, QObject* parent)
    : QObject(parent), m_delegate(delegate) {
    new ApplicationAdaptor(this);
    new ControlAdaptor(this);
    m_announced = changes();
    // A run or an export beginning or ending is announced at once, the count and the progress at
    // most ten times a second.
    m_throttle.setSingleShot(true);
    m_throttle.setInterval(100);
    // A coarse timer may fire early.
    m_throttle.setTimerType(Qt::PreciseTimer);
    connect(&m_throttle, &QTimer::timeout, this, [this] { announce(changes()); });
    connect(&m_delegate, &DROVAppDelegate::statusChanged, this, [this] {
        const QVariantMap changed = changes();
        if (changed.contains(QStringLiteral("IsTracking")) ||
            changed.contains(QStringLiteral("IsExporting")))
            announce(changed);
        else if (!changed.isEmpty() && !m_throttle.isActive())
            m_throttle.start();
    });
}

QVariantMap ControlService::changes() const {
    const QVariantMap now{{QStringLiteral("IsTracking"), IsTracking()},
                          {QStringLiteral("SampleCount"), SampleCount()},
                          {QStringLiteral("IsExporting"), IsExporting()},
                          {QStringLiteral("ExportProgress"), ExportProgress()}};
    QVariantMap changed;
    for (const auto& [name, value] : now.asKeyValueRange())
        if (m_announced.value(name) != value)
            changed.insert(name, value);
    return changed;
}

void ControlService::announce(const QVariantMap& changed) {
    m_throttle.stop();
    if (changed.isEmpty())
        return;
    m_announced.insert(changed);
    QDBusMessage signal =
        QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("de.tolvarek.zwirl.Control") << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

std::optional<int> ControlService::registerOnSessionBus(const QString& action) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(kPath, this, QDBusConnection::ExportAdaptors)) {
        qCWarning(lcApp) << "no session bus; the control interface is not available";
        return std::nullopt;
    }
    const auto reply =
        bus.interface()->registerService(kName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return std::nullopt;
    bus.unregisterObject(kPath);
    return forwardToRunningInstance(action).value_or(1);
}

std::optional<int> ControlService::forwardToRunningInstance(const QString& action) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kName).value())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kName, kPath, QStringLiteral("org.freedesktop.Application"),
        action.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("ActivateAction"));
    call.setArguments(action.isEmpty() ? QVariantList{QVariantMap()}
                                       : QVariantList{action, QVariantList(), QVariantMap()});
    // Had it quit meanwhile, activation would start a zwirl where it may not have a display.
    call.setAutoStartService(false);
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcApp).noquote() << "the running zwirl did not answer:" << answer.errorMessage();
        return 1;
    }
    return 0;
}

void ControlService::Activate(const QVariantMap&) {
    m_delegate.showMainWindow();
}

void ControlService::Open(const QStringList&, const QVariantMap&) {
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("zwirl opens no files"));
}

void ControlService::ActivateAction(const QString& name, const QVariantList&, const QVariantMap&) {
    using D = DROVAppDelegate;
    // start is the main window's start button: the window fades out when it is open.
    static const QHash<QString, void (D::*)()> actions{
        {QStringLiteral("start"), &D::controllerStartAction},
        {QStringLiteral("stop"), &D::stopTrackingAndTell},
        {QStringLiteral("toggle-window"), &D::showWindow},
        {QStringLiteral("debug"), &D::showDebugWindow},
        {QStringLiteral("about"), &D::showAbout},
        {QStringLiteral("live-tone"), &D::toggleLiveTone},
        {D::kSetUpClicksAction, &D::setUpClicks},
        {QStringLiteral("quit"), &D::terminate}};
    if (const auto action = actions.value(name))
        (m_delegate.*action)();
    else
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("unknown action: %1").arg(name));
}

} // namespace zwirl
