// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ControlService.h"

#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"
#include "app/PropertyChangeAnnouncer.h"

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
    // A run or an export beginning or ending is announced at once, the count and the progress at
    // most ten times a second.
    auto* announcer =
        new PropertyChangeAnnouncer(new ControlAdaptor(this), kPath,
                                    {QStringLiteral("IsTracking"), QStringLiteral("IsExporting")});
    connect(&m_delegate, &DROVAppDelegate::statusChanged, announcer,
            &PropertyChangeAnnouncer::update);
}

bool ControlService::IsTracking() const {
    return m_delegate.isTracking();
}

uint ControlService::SampleCount() const {
    return uint(m_delegate.recordedSamples().size());
}

bool ControlService::IsExporting() const {
    return m_delegate.isExporting();
}

double ControlService::exportProgress() const {
    return m_delegate.exportProgress();
}

std::optional<int> ControlService::registerOnSessionBus(const QString& action) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(kPath, this,
                            QDBusConnection::ExportScriptableSlots |
                                QDBusConnection::ExportAdaptors)) {
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
    // start is the main window's start button: the window fades out when it is open.
    if (name == QLatin1String("start"))
        m_delegate.controllerStartAction();
    else if (name == QLatin1String("stop"))
        m_delegate.stopTrackingAndTell();
    else if (name == QLatin1String("toggle-window"))
        m_delegate.showWindow();
    else if (name == QLatin1String("debug"))
        m_delegate.showDebugWindow();
    else if (name == QLatin1String("about"))
        m_delegate.showAbout();
    else if (name == QLatin1String("live-tone"))
        m_delegate.toggleLiveTone();
    else if (name == DROVAppDelegate::kSetUpClicksAction)
        m_delegate.setUpClicks();
    else if (name == QLatin1String("quit"))
        m_delegate.terminate();
    else
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("unknown action: %1").arg(name));
}

} // namespace zwirl
