#include "app/ControlService.h"

#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace zwirl {

const QString ControlService::kServiceName = QStringLiteral("de.tolvarek.zwirl");
const QString ControlService::kObjectPath = QStringLiteral("/de/tolvarek/zwirl");

namespace {

constexpr int kActivateTimeoutMs = 5000;

// Errors are answered through the call's own message: a slot that takes the message as its
// last argument may reply to it itself.
void replyWithError(const QDBusMessage& call, QDBusError::ErrorType type, const QString& text) {
    call.setDelayedReply(true);
    QDBusConnection::sessionBus().send(call.createErrorReply(type, text));
}

} // namespace

class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(ControlService* service)
        : QDBusAbstractAdaptor(service), m_service(service) {}

public Q_SLOTS:
    void Activate(const QVariantMap& platformData) {
        Q_UNUSED(platformData);
        m_service->activate();
    }
    void Open(const QStringList& uris, const QVariantMap& platformData, const QDBusMessage& call) {
        Q_UNUSED(uris);
        Q_UNUSED(platformData);
        replyWithError(call, QDBusError::NotSupported, QStringLiteral("zwirl opens no files"));
    }
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData, const QDBusMessage& call) {
        Q_UNUSED(parameter);
        Q_UNUSED(platformData);
        if (!m_service->activateAction(name))
            replyWithError(call, QDBusError::InvalidArgs,
                           QStringLiteral("unknown action: %1").arg(name));
    }

private:
    ControlService* m_service;
};

class ControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "de.tolvarek.zwirl.Control")
public:
    explicit ControlAdaptor(ControlService* service)
        : QDBusAbstractAdaptor(service), m_delegate(service->delegate()) {}

public Q_SLOTS:
    bool IsTracking() { return m_delegate.isTracking(); }
    uint SampleCount() { return uint(m_delegate.recordedSamples().size()); }
    bool IsExporting() { return m_delegate.isExporting(); }

private:
    DROVAppDelegate& m_delegate;
};

ControlService::ControlService(DROVAppDelegate& delegate, QObject* parent)
    : QObject(parent), m_delegate(delegate) {
    new ApplicationAdaptor(this);
    new ControlAdaptor(this);
}

ControlService::Registration ControlService::registerOnSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcApp) << "no session bus; the control interface is not available";
        return Registration::NoBus;
    }
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        qCWarning(lcApp) << "could not export" << kObjectPath;
        return Registration::NoBus;
    }
    const auto reply =
        bus.interface()->registerService(kServiceName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Registration::Registered;
    bus.unregisterObject(kObjectPath);
    return reply.isValid() ? Registration::NameTaken : Registration::NoBus;
}

bool ControlService::activateRunningInstance() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kServiceName, kObjectPath, QStringLiteral("org.freedesktop.Application"),
        QStringLiteral("Activate"));
    call.setArguments({QVariantMap()});
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kActivateTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void ControlService::activate() {
    if (!m_delegate.mainWindowController())
        m_delegate.showWindow();
}

bool ControlService::activateAction(const QString& name) {
    if (name == QLatin1String("start")) {
        // As the main window's start button: the window fades out when it is open.
        if (m_delegate.isTracking() || m_delegate.isStarting())
            return true;
        if (m_delegate.mainWindowController())
            m_delegate.controllerStartAction();
        else
            m_delegate.startTracking();
    } else if (name == QLatin1String("stop")) {
        if (m_delegate.isTracking())
            m_delegate.controllerStopAction();
    } else if (name == QLatin1String("toggle-window")) {
        m_delegate.showWindow();
    } else if (name == QLatin1String("about")) {
        m_delegate.showAbout();
    } else if (name == QLatin1String("live-tone")) {
        m_delegate.toggleLiveTone();
    } else if (name == QLatin1String("quit")) {
        m_delegate.terminate();
    } else {
        return false;
    }
    return true;
}

} // namespace zwirl

#include "ControlService.moc"
