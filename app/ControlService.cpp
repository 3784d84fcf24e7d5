#include "app/ControlService.h"

#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace zwirl {

namespace {
const QString kName = QStringLiteral("de.tolvarek.zwirl");
const QString kPath = QStringLiteral("/de/tolvarek/zwirl");
} // namespace

class ControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "de.tolvarek.zwirl.Control")
public:
    ControlAdaptor(DROVAppDelegate& delegate, QObject* parent)
        : QDBusAbstractAdaptor(parent), m_delegate(delegate) {}

public Q_SLOTS:
    bool IsTracking() { return m_delegate.isTracking(); }
    uint SampleCount() { return uint(m_delegate.recordedSamples().size()); }
    bool IsExporting() { return m_delegate.isExporting(); }

private:
    DROVAppDelegate& m_delegate;
};

ControlService::ControlService(DROVAppDelegate& delegate, QObject* parent)
    : QObject(parent), m_delegate(delegate) {
    new ControlAdaptor(delegate, this);
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
    QDBusMessage call = QDBusMessage::createMethodCall(
        kName, kPath, QStringLiteral("org.freedesktop.Application"),
        action.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("ActivateAction"));
    call.setArguments(action.isEmpty() ? QVariantList{QVariantMap()}
                                       : QVariantList{action, QVariantList(), QVariantMap()});
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcApp).noquote() << "the running zwirl did not answer:" << answer.errorMessage();
        return 1;
    }
    return 0;
}

void ControlService::Activate(const QVariantMap&) {
    if (!m_delegate.mainWindowController())
        m_delegate.showWindow();
}

void ControlService::Open(const QStringList&, const QVariantMap&) {
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("zwirl opens no files"));
}

void ControlService::ActivateAction(const QString& name, const QVariantList&, const QVariantMap&) {
    // start is the main window's start button: the window fades out when it is open.
    if (name == QLatin1String("start"))
        m_delegate.controllerStartAction();
    else if (name == QLatin1String("stop") && m_delegate.isTracking())
        m_delegate.controllerStopAction();
    else if (name == QLatin1String("toggle-window"))
        m_delegate.showWindow();
    else if (name == QLatin1String("about"))
        m_delegate.showAbout();
    else if (name == QLatin1String("live-tone"))
        m_delegate.toggleLiveTone();
    else if (name == QLatin1String("quit"))
        m_delegate.terminate();
    else if (name != QLatin1String("stop"))
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("unknown action: %1").arg(name));
}

} // namespace zwirl

#include "ControlService.moc"
