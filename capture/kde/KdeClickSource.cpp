// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/kde/KdeClickSource.h"

#include "capture/CaptureLog.h"
#include "capture/kde/KWinPixelReader.h"

#include "PressesAdaptor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace zwirl {
namespace {

const QString kKWinName = QStringLiteral("org.kde.KWin");
const QString kPressesEffect = QStringLiteral("zwirl_presses");
const QString kRelayEffect = QStringLiteral("zwirl_relay");
const QString kReportPath = QStringLiteral("/de/tolvarek/zwirl/Presses");

QDBusMessage effectsCall(const QString& method, const QString& effect) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kKWinName, QStringLiteral("/Effects"), QStringLiteral("org.kde.kwin.Effects"), method);
    call << effect;
    return call;
}

} // namespace

KdeClickSource::KdeClickSource(QObject* parent)
    : ClickSource(parent), m_kwin(kKWinName), m_reader(new KWinPixelReader) {
    qRegisterMetaType<std::optional<ClickSample>>();
    new PressesAdaptor(this);
    m_reader->moveToThread(&m_readerThread);
    connect(&m_readerThread, &QThread::finished, m_reader, &QObject::deleteLater);
    connect(m_reader, &KWinPixelReader::read, this, &KdeClickSource::colourRead);
    m_readerThread.start();
}

KdeClickSource::~KdeClickSource() {
    stop();
    m_readerThread.quit();
    m_readerThread.wait();
}

bool KdeClickSource::start() {
    if (m_started)
        return true;
    m_toldAboutColours = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(kReportPath, this, QDBusConnection::ExportAdaptors))
        return false;
    // Effects still loaded from a zwirl that ended without stopping are loaded anew.
    unloadEffects();
    m_started = true;
    // The relay first: it learns which connection is ours when it loads, before any press.
    loadEffects({kRelayEffect, kPressesEffect}, m_run);
    return true;
}

// One after the other, without waiting: KWin answers at once, but a compositor that does not
// must not hold the run's start up.
void KdeClickSource::loadEffects(QStringList effects, quint64 run) {
    if (effects.isEmpty())
        return;
    const QString effect = effects.takeFirst();
    auto* load = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(effectsCall(QStringLiteral("loadEffect"), effect)),
        this);
    connect(load, &QDBusPendingCallWatcher::finished, this,
            [this, effect, effects, run](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (run != m_run || !m_started)
                    return;
                const QDBusPendingReply<bool> loaded = *call;
                if (loaded.isValid() && loaded.value())
                    return loadEffects(effects, run);
                qCInfo(lcCapture) << "KWin does not load the effect" << effect
                                  << loaded.error().message();
                stop();
                Q_EMIT notice(QStringLiteral(
                    "zwirl cannot see your clicks in this Plasma session: KWin runs zwirl's "
                    "effects only when it draws the desktop with OpenGL. Only clicks in X11 "
                    "applications are recorded."));
                Q_EMIT failed();
            });
}

void KdeClickSource::stop() {
    if (!std::exchange(m_started, false))
        return;
    QDBusConnection::sessionBus().unregisterObject(kReportPath);
    unloadEffects();
    ++m_run;
}

void KdeClickSource::clearLeftovers() {
    unloadEffects();
}

// Asked without waiting; KWin handles the calls in order, before any later load.
void KdeClickSource::unloadEffects() {
    for (const QString& effect : {kPressesEffect, kRelayEffect})
        QDBusConnection::sessionBus().asyncCall(
            effectsCall(QStringLiteral("unloadEffect"), effect));
}

void KdeClickSource::Pressed(double x, double y, bool ownWindow) {
    if (!m_kwin.owns(message().service())) {
        sendErrorReply(QDBusError::AccessDenied,
                       QStringLiteral("Only KWin reports clicks to zwirl"));
        return;
    }
    if (!m_started || ownWindow)
        return;
    QMetaObject::invokeMethod(m_reader, [reader = m_reader, position = QPoint(qRound(x), qRound(y)),
                                         run = m_run] { reader->readAt(position, run); });
}

void KdeClickSource::colourRead(quint64 run, QPoint position, std::optional<ClickSample> colour,
                                const QString& failure) {
    // Presses of a run that has ended are read to no purpose.
    if (run != m_run)
        return;
    if (!colour) {
        qCWarning(lcCapture) << "no colour from KWin:" << failure;
        if (!std::exchange(m_toldAboutColours, true))
            Q_EMIT notice(QStringLiteral(
                "zwirl cannot read the colours under your clicks in this Plasma session, so they "
                "are recorded as black. KWin gives them only to an installed zwirl, and only "
                "when it draws the desktop with OpenGL."));
    }
    Q_EMIT clicked(position, colour);
}

} // namespace zwirl
