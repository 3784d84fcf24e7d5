#include "platform/SessionBusService.h"

#include "platform/PlatformLog.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

const QString SessionBusService::kServiceName = QStringLiteral("de.tolvarek.zwirl");
const QString SessionBusService::kObjectPath = QStringLiteral("/de/tolvarek/zwirl");

namespace {

constexpr int kActivateTimeoutMs = 5000;

// The object exported at the path; its adaptors forward to the handler.
class BusObject : public QObject {
public:
    BusObject(SessionBusHandler* handler, QObject* parent) : QObject(parent), handler(handler) {}
    SessionBusHandler* handler;
};

} // namespace

// Errors are answered through the call's own message: a slot that takes the message as its
// last argument may reply to it itself, which works in adaptors as well as in exported objects.
static void replyWithError(const QDBusMessage& call, QDBusError::ErrorType type,
                           const QString& text) {
    call.setDelayedReply(true);
    QDBusConnection::sessionBus().send(call.createErrorReply(type, text));
}

class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(BusObject* object)
        : QDBusAbstractAdaptor(object), m_object(object) {}

public Q_SLOTS:
    void Activate(const QVariantMap& platformData) {
        Q_UNUSED(platformData);
        m_object->handler->activate();
    }
    void Open(const QStringList& uris, const QVariantMap& platformData, const QDBusMessage& call) {
        Q_UNUSED(uris);
        Q_UNUSED(platformData);
        replyWithError(call, QDBusError::NotSupported, QStringLiteral("zwirl opens no files"));
    }
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData, const QDBusMessage& call) {
        Q_UNUSED(platformData);
        QVariantList values;
        for (const QVariant& v : parameter)
            values << (v.canConvert<QDBusVariant>() ? v.value<QDBusVariant>().variant() : v);
        if (m_object->handler->activateAction(name, values) ==
            SessionBusHandler::Result::UnknownAction)
            replyWithError(call, QDBusError::InvalidArgs,
                           QStringLiteral("unknown action: %1").arg(name));
    }

private:
    BusObject* m_object;
};

class ControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "de.tolvarek.zwirl.Control")
public:
    explicit ControlAdaptor(BusObject* object) : QDBusAbstractAdaptor(object), m_object(object) {}

public Q_SLOTS:
    bool IsTracking() { return m_object->handler->isTracking(); }
    uint SampleCount() { return m_object->handler->sampleCount(); }
    bool IsExporting() { return m_object->handler->isExporting(); }

private:
    BusObject* m_object;
};

SessionBusService::SessionBusService(SessionBusHandler* handler, QObject* parent)
    : QObject(parent), m_handler(handler) {}

SessionBusService::Registration SessionBusService::registerOnSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcPlatform) << "no session bus; the control interface is not available";
        return Registration::NoBus;
    }
    auto* object = new BusObject(m_handler, this);
    new ApplicationAdaptor(object);
    new ControlAdaptor(object);
    if (!bus.registerObject(kObjectPath, object, QDBusConnection::ExportAdaptors)) {
        qCWarning(lcPlatform) << "could not export" << kObjectPath;
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

bool SessionBusService::activateRunningInstance() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kServiceName, kObjectPath, QStringLiteral("org.freedesktop.Application"),
        QStringLiteral("Activate"));
    call.setArguments({QVariantMap()});
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kActivateTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

#include "SessionBusService.moc"
