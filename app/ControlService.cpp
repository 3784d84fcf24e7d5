#include "app/ControlService.h"

#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

namespace zwirl {

namespace {
const QString kName = QStringLiteral("de.tolvarek.zwirl");
const QString kPath = QStringLiteral("/de/tolvarek/zwirl");
} // namespace

// The state of runs and exports, as methods and as properties whose changes are announced
// with org.freedesktop.DBus.Properties.PropertiesChanged: a run or an export beginning or
// ending at once, the count and the progress at most ten times a second.
class ControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "de.tolvarek.zwirl.Control")
    Q_PROPERTY(bool IsTracking READ IsTracking)
    Q_PROPERTY(uint SampleCount READ SampleCount)
    Q_PROPERTY(bool IsExporting READ IsExporting)
    Q_PROPERTY(double ExportProgress READ exportProgress)
public:
    ControlAdaptor(DROVAppDelegate& delegate, QObject* parent)
        : QDBusAbstractAdaptor(parent), m_delegate(delegate), m_announced(properties()) {
        m_throttle.setSingleShot(true);
        m_throttle.setInterval(100);
        // A coarse timer may fire early.
        m_throttle.setTimerType(Qt::PreciseTimer);
        connect(&m_throttle, &QTimer::timeout, this, &ControlAdaptor::announce);
        connect(&m_delegate, &DROVAppDelegate::statusChanged, this, [this] {
            const QVariantMap now = properties();
            if (now[kTracking] != m_announced[kTracking] ||
                now[kExporting] != m_announced[kExporting])
                announce();
            else if (!m_throttle.isActive())
                m_throttle.start();
        });
    }
    double exportProgress() const { return m_delegate.exportProgress(); }

public Q_SLOTS:
    bool IsTracking() { return m_delegate.isTracking(); }
    uint SampleCount() { return uint(m_delegate.recordedSamples().size()); }
    bool IsExporting() { return m_delegate.isExporting(); }

private:
    static inline const QString kTracking = QStringLiteral("IsTracking"),
                                kExporting = QStringLiteral("IsExporting");

    QVariantMap properties() {
        return {{kTracking, IsTracking()},
                {QStringLiteral("SampleCount"), SampleCount()},
                {kExporting, IsExporting()},
                {QStringLiteral("ExportProgress"), exportProgress()}};
    }

    // The properties that changed since the last announcement, in one signal.
    void announce() {
        m_throttle.stop();
        const QVariantMap now = properties();
        QVariantMap changed;
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            if (m_announced.value(it.key()) != it.value())
                changed.insert(it.key(), it.value());
        if (changed.isEmpty())
            return;
        m_announced = now;
        QDBusMessage signal =
            QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("de.tolvarek.zwirl.Control") << changed << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }

    DROVAppDelegate& m_delegate;
    QVariantMap m_announced;
    QTimer m_throttle;
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

#include "ControlService.moc"
