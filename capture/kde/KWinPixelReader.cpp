// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/kde/KWinPixelReader.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QImage>

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zwirl {
namespace {

// A raw 1 × 1 image is a few bytes; KWin writes it after answering.
constexpr int kReadTimeoutMs = 2000;
constexpr int kCallTimeoutMs = 2000;

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fds, O_CLOEXEC) != 0)
            fds[0] = fds[1] = -1;
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int end) {
        if (fds[end] >= 0)
            ::close(fds[end]);
        fds[end] = -1;
    }
};

// What KWin writes to the pipe, up to `size` bytes or until it closes its end.
QByteArray readImage(int fd, qsizetype size) {
    QByteArray data;
    char buffer[4096];
    while (data.size() < size) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kReadTimeoutMs) <= 0)
            break;
        const ssize_t n =
            ::read(fd, buffer, std::min<qsizetype>(sizeof buffer, size - data.size()));
        if (n <= 0)
            break;
        data.append(buffer, n);
    }
    return data;
}

} // namespace

void KWinPixelReader::readAt(QPoint position, quint64 run) {
    QString failure;
    const std::optional<ClickSample> colour = capture(position, failure);
    Q_EMIT read(run, position, colour, failure);
}

std::optional<ClickSample> KWinPixelReader::capture(QPoint position, QString& failure) {
    Pipe pipe;
    if (pipe.fds[0] < 0) {
        failure = QStringLiteral("no pipe: %1").arg(qt_error_string(errno));
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
        QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureArea"));
    call << position.x() << position.y() << 1u << 1u << QVariantMap()
         << QVariant::fromValue(QDBusUnixFileDescriptor(pipe.fds[1]));
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    // Our copy of the writing end goes, so that the read ends when KWin closes its copy.
    pipe.closeEnd(1);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        failure = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return std::nullopt;
    }
    const QVariantMap meta = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    const int width = meta.value(QStringLiteral("width")).toInt();
    const int height = meta.value(QStringLiteral("height")).toInt();
    const qsizetype stride = meta.value(QStringLiteral("stride")).toLongLong();
    // Checked as a number: only a known format may become the enum.
    const int formatNumber = meta.value(QStringLiteral("format")).toInt();
    // A 1 × 1 area is a pixel or, scaled, a few: nothing larger is read.
    if (meta.value(QStringLiteral("type")).toString() != QLatin1String("raw") || width < 1 ||
        height < 1 || width > 16 || height > 16 || stride < 1 || stride > 1024 ||
        formatNumber <= QImage::Format_Invalid || formatNumber >= QImage::NImageFormats) {
        failure = QStringLiteral("an image KWin describes as %1").arg(QDebug::toString(meta));
        return std::nullopt;
    }
    const QByteArray data = readImage(pipe.fds[0], stride * height);
    if (data.size() < stride * height) {
        failure =
            QStringLiteral("%1 of %2 bytes of the image").arg(data.size()).arg(stride * height);
        return std::nullopt;
    }
    const QImage image(reinterpret_cast<const uchar*>(data.constData()), width, height, stride,
                       QImage::Format(formatNumber));
    const QRgb pixel = image.pixel(0, 0);
    return ClickSample{qRed(pixel) / 255.0, qGreen(pixel) / 255.0, qBlue(pixel) / 255.0};
}

} // namespace zwirl
