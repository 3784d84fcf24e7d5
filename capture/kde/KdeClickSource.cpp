// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/kde/KdeClickSource.h"

#include "PressesAdaptor.h"

#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QScopeGuard>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zwirl {
namespace {

const QString kKWinName = QStringLiteral("org.kde.KWin");
const QString kPressesEffect = QStringLiteral("zwirl_presses");
const QString kRelayEffect = QStringLiteral("zwirl_relay");
const QString kReportPath = QStringLiteral("/de/tolvarek/zwirl/Presses");
// For KWin's answer, and for each part of the few bytes it writes afterwards.
constexpr int kTimeoutMs = 2000;

QDBusPendingCall effectsCall(const QString& method, const QString& effect) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kKWinName, QStringLiteral("/Effects"), QStringLiteral("org.kde.kwin.Effects"), method);
    return QDBusConnection::sessionBus().asyncCall(call << effect);
}

// Asks KWin to write the 1 × 1 area at `position` into `fd`; the message's copy goes on return.
QDBusMessage captureArea(QPoint position, int fd) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kKWinName, QStringLiteral("/org/kde/KWin/ScreenShot2"),
        QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureArea"));
    call << position.x() << position.y() << 1u << 1u << QVariantMap()
         << QVariant::fromValue(QDBusUnixFileDescriptor(fd));
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kTimeoutMs);
}

// What KWin writes to the pipe, up to `size` bytes or until it closes its end.
QByteArray readImage(int fd, qsizetype size) {
    QByteArray data;
    char buffer[4096];
    pollfd ready{fd, POLLIN, 0};
    while (data.size() < size && ::poll(&ready, 1, kTimeoutMs) > 0) {
        const ssize_t n =
            ::read(fd, buffer, std::min<qsizetype>(sizeof buffer, size - data.size()));
        if (n <= 0)
            break;
        data.append(buffer, n);
    }
    return data;
}

} // namespace

std::optional<ClickSample> readKWinPixel(QPoint position, QString& failure) {
    const auto fail = [&failure](const QString& why) {
        failure = why;
        return std::nullopt;
    };
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return fail(QStringLiteral("no pipe: %1").arg(qt_error_string(errno)));
    const auto closeReadEnd = qScopeGuard([&] { ::close(pipe[0]); });
    const QDBusMessage reply = captureArea(position, pipe[1]);
    // Our last copy of the writing end goes, so that the read ends when KWin closes its copy.
    ::close(pipe[1]);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return fail(reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
    const QVariantMap meta = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    const int width = meta.value(QStringLiteral("width")).toInt();
    const int height = meta.value(QStringLiteral("height")).toInt();
    const qsizetype stride = meta.value(QStringLiteral("stride")).toLongLong();
    // Checked as a number: only a known format may become the enum.
    const int format = meta.value(QStringLiteral("format")).toInt();
    // A 1 × 1 area is a pixel or, scaled, a few: nothing larger is read.
    if (meta.value(QStringLiteral("type")).toString() != QLatin1String("raw") || width < 1 ||
        height < 1 || width > 16 || height > 16 || stride < 1 || stride > 1024 ||
        format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
        return fail(QStringLiteral("an image KWin describes as %1").arg(QDebug::toString(meta)));
    const QByteArray data = readImage(pipe[0], stride * height);
    if (data.size() < stride * height)
        return fail(
            QStringLiteral("%1 of %2 bytes of the image").arg(data.size()).arg(stride * height));
    const QRgb pixel = QImage(reinterpret_cast<const uchar*>(data.constData()), width, height,
                              stride, QImage::Format(format))
                           .pixel(0, 0);
    return ClickSample{qRed(pixel) / 255.0, qGreen(pixel) / 255.0, qBlue(pixel) / 255.0};
}

KdeClickSource::KdeClickSource()
    : CompositorClickSource(kKWinName, QStringLiteral("Only KWin reports clicks to zwirl")) {
    new PressesAdaptor(this);
    m_reader.setMaxThreadCount(1);
}

bool KdeClickSource::start() {
    if (m_started)
        return true;
    m_toldAboutColours = false;
    if (!QDBusConnection::sessionBus().registerObject(kReportPath, this,
                                                      QDBusConnection::ExportAdaptors))
        return false;
    // Effects still loaded by a zwirl that ended without stopping are loaded anew.
    clearLeftovers();
    m_started = true;
    // The relay first: it learns which connection is ours when it loads, before any press.
    loadEffects({kRelayEffect, kPressesEffect}, m_run);
    return true;
}

// One after the other, not waited for: a silent compositor must not hold the run's start up.
void KdeClickSource::loadEffects(QStringList effects, quint64 run) {
    if (effects.isEmpty())
        return;
    const QString effect = effects.takeFirst();
    onReply<bool>(effectsCall(QStringLiteral("loadEffect"), effect), this,
                  [this, effect, effects, run](const QDBusPendingReply<bool>& loaded) {
                      if (run != m_run || !m_started)
                          return;
                      if (loaded.isValid() && loaded.value())
                          return loadEffects(effects, run);
                      qCInfo(lcCapture)
                          << "KWin does not load the effect" << effect << loaded.error().message();
                      stop();
                      Q_EMIT notice(QStringLiteral(
                          "zwirl cannot see your clicks in this Plasma session: KWin runs "
                          "zwirl's effects only when it draws the desktop with OpenGL. Only "
                          "clicks in X11 applications are recorded."));
                      Q_EMIT failed();
                  });
}

void KdeClickSource::stop() {
    if (!std::exchange(m_started, false))
        return;
    // The presses of a run that has ended are read to no purpose.
    m_reader.clear();
    QDBusConnection::sessionBus().unregisterObject(kReportPath);
    clearLeftovers();
    ++m_run;
}

// Asked without waiting; KWin handles the calls in order, before any later load.
void KdeClickSource::clearLeftovers() {
    for (const QString& effect : {kPressesEffect, kRelayEffect})
        effectsCall(QStringLiteral("unloadEffect"), effect);
}

void KdeClickSource::Pressed(double x, double y, bool ownWindow) {
    if (!fromCompositor() || !m_started || ownWindow)
        return;
    m_reader.start([this, position = QPoint(qRound(x), qRound(y)), run = m_run] {
        QString failure;
        const std::optional<ClickSample> colour = readKWinPixel(position, failure);
        if (!colour)
            qCWarning(lcCapture) << "no colour from KWin:" << failure;
        QMetaObject::invokeMethod(this, [=, this] {
            if (run != m_run)
                return;
            if (!colour && !std::exchange(m_toldAboutColours, true))
                Q_EMIT notice(QStringLiteral(
                    "zwirl cannot read the colours under your clicks in this Plasma session, so "
                    "they are recorded as black. KWin gives them only to an installed zwirl, and "
                    "only when it draws the desktop with OpenGL."));
            Q_EMIT clicked(position, colour);
        });
    });
}

} // namespace zwirl
