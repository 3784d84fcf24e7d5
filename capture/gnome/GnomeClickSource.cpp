#include "capture/gnome/GnomeClickSource.h"

#include "capture/CaptureLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include <utility>

namespace zwirl {
namespace {

const QString kShellName = QStringLiteral("org.gnome.Shell");
const QString kWatcherPath = QStringLiteral("/de/tolvarek/zwirl/Shell");
const QString kWatcherInterface = QStringLiteral("de.tolvarek.zwirl.Shell");
const QString kReportPath = QStringLiteral("/de/tolvarek/zwirl/Clicks");

QDBusMessage watcherCall(const QString& method) {
    return QDBusMessage::createMethodCall(kShellName, kWatcherPath, kWatcherInterface, method);
}

} // namespace

// A new shell (after a crash or a restart) loads the extension only after taking the name; the
// extension then asks for ShellReady.
GnomeClickSource::GnomeClickSource(QObject* parent) : ClickSource(parent), m_shell(kShellName) {}

GnomeClickSource::~GnomeClickSource() {
    stop();
}

bool GnomeClickSource::start() {
    if (m_started)
        return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(kReportPath, this, QDBusConnection::ExportScriptableSlots))
        return false;
    // Not waited for: a shell that does not answer must not hold the run's start up.
    auto* watch =
        new QDBusPendingCallWatcher(bus.asyncCall(watcherCall(QStringLiteral("Watch"))), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this,
            [this, run = ++m_run](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (!call->isError() || run != m_run || !m_started)
                    return;
                qCInfo(lcCapture) << "the GNOME Shell extension does not watch:"
                                  << call->error().message();
                stop();
                if (!std::exchange(m_toldAboutExtension, true))
                    Q_EMIT notice(
                        QStringLiteral(
                            "To record clicks in every application, enable zwirl's GNOME Shell "
                            "extension: gnome-extensions enable %1")
                            .arg(kExtensionUuid));
                Q_EMIT failed();
            });
    return m_started = true;
}

void GnomeClickSource::stop() {
    if (!m_started)
        return;
    m_started = false;
    QDBusConnection::sessionBus().unregisterObject(kReportPath);
    // Asked without waiting: the shell ends its watching whatever we do next.
    QDBusConnection::sessionBus().asyncCall(watcherCall(QStringLiteral("Unwatch")));
}

bool GnomeClickSource::fromShell() {
    if (m_shell.owns(message().service()))
        return true;
    sendErrorReply(QDBusError::AccessDenied,
                   QStringLiteral("Only GNOME Shell reports clicks to zwirl"));
    return false;
}

void GnomeClickSource::Pressed(int x, int y, bool ownWindow, const QList<double>& colour) {
    if (!fromShell() || !m_started || ownWindow)
        return;
    std::optional<ClickSample> sample;
    if (colour.size() == 3)
        sample = ClickSample{colour[0], colour[1], colour[2]};
    Q_EMIT clicked(QPoint(x, y), sample);
}

void GnomeClickSource::ShellReady() {
    if (fromShell() && m_started)
        QDBusConnection::sessionBus().asyncCall(watcherCall(QStringLiteral("Watch")));
}

} // namespace zwirl
