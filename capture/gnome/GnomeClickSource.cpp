// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/gnome/GnomeClickSource.h"

#include "ClicksAdaptor.h"
#include "ShellWatcherProxy.h"

#include <QStandardPaths>

namespace zwirl {
namespace {

const QString kShellName = QStringLiteral("org.gnome.Shell");
const QString kExtensionUuid = QStringLiteral("zwirl@tolvarek.de");
const QString kReportPath = QStringLiteral("/de/tolvarek/zwirl/Clicks");

// GNOME Shell's states of an extension.
enum : int { Active = 1, Inactive = 2, Error = 3, OutOfDate = 4, Initialized = 6 };

// The shell's own interface for its extensions, about ours.
QDBusPendingCall extensionsCall(const QString& method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kShellName, QStringLiteral("/org/gnome/Shell"),
                                       QStringLiteral("org.gnome.Shell.Extensions"), method);
    return QDBusConnection::sessionBus().asyncCall(call << kExtensionUuid);
}

QString x11Only(const QString& why) {
    return why + QStringLiteral(", so only clicks in X11 applications are recorded.");
}

// What the user is told of the extension as the shell describes it; nothing while it watches.
QString extensionProblem(const QVariantMap& extension, int state, bool watchFailed) {
    if (state == Active && !watchFailed)
        return {};
    if (state == Inactive || state == Initialized)
        return x11Only(QStringLiteral("zwirl's GNOME Shell extension is turned off"));
    if (state == Error)
        return x11Only(QStringLiteral("GNOME Shell could not start zwirl's extension (%1)")
                           .arg(extension.value(QStringLiteral("error")).toString()));
    if (state == OutOfDate)
        return x11Only(QStringLiteral(
            "zwirl's GNOME Shell extension does not support this version of GNOME Shell"));
    if (!extension.isEmpty())
        return x11Only(QStringLiteral("zwirl's GNOME Shell extension did not answer"));
    const QString metadata =
        QStringLiteral("gnome-shell/extensions/%1/metadata.json").arg(kExtensionUuid);
    if (!QStandardPaths::locate(QStandardPaths::GenericDataLocation, metadata).isEmpty())
        return QStringLiteral("GNOME Shell finds zwirl's extension only after you log out and in "
                              "once; until then only clicks in X11 applications are recorded.");
    return x11Only(QStringLiteral("zwirl's GNOME Shell extension is not installed")) +
           QStringLiteral(" Installing zwirl again puts it in place.");
}

} // namespace

// Served always: the extension calls ShellReady whenever it is enabled, also in a restarted shell.
GnomeClickSource::GnomeClickSource()
    : CompositorClickSource(kShellName, QStringLiteral("Only GNOME Shell reports clicks to zwirl")),
      m_watcher(new ShellWatcherProxy(kShellName, QStringLiteral("/de/tolvarek/zwirl/Shell"),
                                      QDBusConnection::sessionBus(), this)) {
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
    onReply<>(m_watcher->Watch(), this, [this, run = ++m_run](const QDBusPendingReply<>& watch) {
        if (run != m_run || !m_started)
            return;
        if (!watch.isError())
            return Q_EMIT setUpOffered({}, {});
        qCInfo(lcCapture) << "the GNOME Shell extension does not watch:" << watch.error().message();
        stop();
        explainExtension(true);
        Q_EMIT failed();
    });
    return m_started = true;
}

// Asked at each run until the extension watches: what to do, and a button where one call does it.
void GnomeClickSource::explainExtension(bool watchFailed) {
    const QDBusPendingCall info = extensionsCall(QStringLiteral("GetExtensionInfo"));
    onReply<QVariantMap>(
        info, this, [this, watchFailed](const QDBusPendingReply<QVariantMap>& reply) {
            const QVariantMap extension = reply.isValid() ? reply.value() : QVariantMap();
            const int state = extension.value(QStringLiteral("state")).toInt();
            const bool off = state == Inactive || state == Initialized;
            Q_EMIT setUpOffered(extensionProblem(extension, state, watchFailed),
                                off ? QStringLiteral("Turn On") : QString());
        });
}

void GnomeClickSource::setUp() {
    onReply<bool>(extensionsCall(QStringLiteral("EnableExtension")), this,
                  [this](const QDBusPendingReply<bool>& enabled) {
                      // Enabled, the extension says so itself (ShellReady).
                      if (enabled.isValid() && enabled.value())
                          return Q_EMIT setUpOffered({}, {});
                      qCInfo(lcCapture) << "GNOME Shell did not enable the extension:"
                                        << enabled.error().message();
                      Q_EMIT notice(QStringLiteral("GNOME Shell did not turn zwirl's extension "
                                                   "on. Log out and in once, then try again."));
                  });
}

void GnomeClickSource::stop() {
    if (std::exchange(m_started, false))
        m_watcher->Unwatch();
}

void GnomeClickSource::Pressed(int x, int y, bool ownWindow, const QList<double>& colour) {
    if (!fromCompositor() || !m_started || ownWindow)
        return;
    Q_EMIT clicked(QPoint(x, y), colour.size() == 3
                                     ? std::optional(ClickSample{colour[0], colour[1], colour[2]})
                                     : std::nullopt);
}

void GnomeClickSource::ShellReady() {
    if (!fromCompositor())
        return;
    if (m_started)
        m_watcher->Watch();
    else
        Q_EMIT becameAvailable();
}

} // namespace zwirl
