// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/gnome/GnomeClickSource.h"

#include "capture/CaptureLog.h"

#include "ClicksAdaptor.h"
#include "ShellWatcherProxy.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStandardPaths>

#include <utility>

namespace zwirl {
namespace {

const QString kShellName = QStringLiteral("org.gnome.Shell");
const QString kWatcherPath = QStringLiteral("/de/tolvarek/zwirl/Shell");
const QString kReportPath = QStringLiteral("/de/tolvarek/zwirl/Clicks");

// The shell's own interface for its extensions, about ours.
QDBusMessage extensionsCall(const QString& method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kShellName, QStringLiteral("/org/gnome/Shell"),
                                       QStringLiteral("org.gnome.Shell.Extensions"), method);
    call << GnomeClickSource::kExtensionUuid;
    return call;
}

} // namespace

// A new shell (after a crash or a restart) loads the extension only after taking the name; the
// extension then asks for ShellReady.
// Served from the start, runs or not: the extension calls ShellReady whenever it is enabled.
GnomeClickSource::GnomeClickSource(QObject* parent)
    : ClickSource(parent), m_shell(kShellName),
      m_watcher(
          new ShellWatcherProxy(kShellName, kWatcherPath, QDBusConnection::sessionBus(), this)) {
    new ClicksAdaptor(this);
    if (!QDBusConnection::sessionBus().registerObject(kReportPath, this,
                                                      QDBusConnection::ExportAdaptors))
        qCWarning(lcCapture) << "cannot take reports of clicks at" << kReportPath;
}

GnomeClickSource::~GnomeClickSource() {
    stop();
    QDBusConnection::sessionBus().unregisterObject(kReportPath);
}

bool GnomeClickSource::start() {
    if (m_started)
        return true;
    // Not waited for: a shell that does not answer must not hold the run's start up.
    auto* watch = new QDBusPendingCallWatcher(m_watcher->Watch(), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this,
            [this, run = ++m_run](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (run != m_run || !m_started)
                    return;
                if (!call->isError())
                    return Q_EMIT setUpOffered({}, {});
                qCInfo(lcCapture) << "the GNOME Shell extension does not watch:"
                                  << call->error().message();
                stop();
                explainExtension(true);
                Q_EMIT failed();
            });
    return m_started = true;
}

// What the shell says of the extension decides what the user is told, at each run until it
// watches: what to do, and a button where one call does it.
void GnomeClickSource::explainExtension(bool watchFailed) {
    auto* info = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(extensionsCall(QStringLiteral("GetExtensionInfo"))),
        this);
    connect(
        info, &QDBusPendingCallWatcher::finished, this,
        [this, watchFailed](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<QVariantMap> reply = *call;
            const QVariantMap extension = reply.isValid() ? reply.value() : QVariantMap();
            const QString x11Only =
                QStringLiteral(", so only clicks in X11 applications are recorded");
            // GNOME Shell's states of an extension.
            enum : int { Active = 1, Inactive = 2, Error = 3, OutOfDate = 4, Initialized = 6 };
            const int state = extension.value(QStringLiteral("state"), -1).toInt();
            if (state == Inactive || state == Initialized)
                return Q_EMIT setUpOffered(
                    QStringLiteral("zwirl's GNOME Shell extension is turned off") + x11Only + u'.',
                    QStringLiteral("Turn On"));
            QString text;
            if (state == Active && !watchFailed)
                text = QString();
            else if (state == Error)
                text = QStringLiteral("GNOME Shell could not start zwirl's extension (%1)")
                           .arg(extension.value(QStringLiteral("error")).toString()) +
                       x11Only + u'.';
            else if (state == OutOfDate)
                text =
                    QStringLiteral("zwirl's GNOME Shell extension does not support this version of "
                                   "GNOME Shell") +
                    x11Only + u'.';
            else if (!extension.isEmpty())
                text =
                    QStringLiteral("zwirl's GNOME Shell extension did not answer") + x11Only + u'.';
            else if (!QStandardPaths::locate(
                          QStandardPaths::GenericDataLocation,
                          QStringLiteral("gnome-shell/extensions/%1/metadata.json")
                              .arg(kExtensionUuid))
                          .isEmpty())
                text =
                    QStringLiteral("GNOME Shell finds zwirl's extension only after you log out and "
                                   "in once; until then only clicks in X11 applications are "
                                   "recorded.");
            else
                text = QStringLiteral("zwirl's GNOME Shell extension is not installed") + x11Only +
                       QStringLiteral(". Installing zwirl again puts it in place.");
            Q_EMIT setUpOffered(text, {});
        });
}

void GnomeClickSource::setUp() {
    auto* enable = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(extensionsCall(QStringLiteral("EnableExtension"))),
        this);
    connect(enable, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<bool> enabled = *call;
                // The extension, once enabled, says so itself (ShellReady); some shells
                // enable it only after answering.
                if (enabled.isValid() && enabled.value())
                    return Q_EMIT setUpOffered({}, {});
                qCInfo(lcCapture) << "GNOME Shell did not enable the extension:"
                                  << enabled.error().message();
                Q_EMIT notice(
                    QStringLiteral("GNOME Shell did not turn zwirl's extension on. Log out and "
                                   "in once, then try again."));
            });
}

void GnomeClickSource::stop() {
    if (!m_started)
        return;
    m_started = false;
    // Asked without waiting: the shell ends its watching whatever we do next.
    m_watcher->Unwatch();
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
    if (!fromShell())
        return;
    if (m_started)
        m_watcher->Watch();
    else
        Q_EMIT becameAvailable();
}

} // namespace zwirl
