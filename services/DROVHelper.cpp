// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/DROVHelper.h"

#include "services/ServicesLog.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <gio/gio.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace zwirl {

namespace {

constexpr int kCanvasSide = 512;
constexpr double kLogoCentre = 256.0;
constexpr float kLogoScale = 0.8f;
const char* const kCustomIconAttribute = "metadata::custom-icon";

// Saturates as a wide-gamut colour drawn into an 8-bit bitmap: 1.2 paints 255, -0.1 and NaN 0.
QRgb opaqueColour(const ClickSample& sample) {
    const auto channel = [&sample](int c) {
        const float component = static_cast<float>(sample[c]);
        return component > 0.0f ? static_cast<int>(std::lround(std::min(component, 1.0f) * 255.0f))
                                : 0;
    };
    return qRgb(channel(0), channel(1), channel(2));
}

// Without a bus GLib would launch one of its own, and gvfs's metadata store lives on the bus.
bool sessionBusKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// The file, when it exists and gvfs offers its metadata namespace; the caller owns it.
GFile* fileWithMetadata(const QString& path) {
    if (path.isEmpty() || !sessionBusKnown())
        return nullptr;
    g_autoptr(GFile) file = g_file_new_for_path(QFile::encodeName(path).constData());
    if (!g_file_query_exists(file, nullptr))
        return nullptr;
    g_autoptr(GFileAttributeInfoList) namespaces =
        g_file_query_writable_namespaces(file, nullptr, nullptr);
    for (int i = 0; namespaces && i < namespaces->n_infos; ++i)
        if (std::strcmp(namespaces->infos[i].name, "metadata") == 0)
            return static_cast<GFile*>(g_steal_pointer(&file));
    return nullptr;
}

// Named after its content: kept once for many files, and never changed under one that uses it.
QString storeIconImage(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    const QString directory =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/zwirl/icons");
    if (!QDir().mkpath(directory)) {
        qCWarning(lcServices) << "cannot create the icon folder" << directory;
        return {};
    }
    const QByteArray hash = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    const QString path = directory + u'/' + QString::fromLatin1(hash) + QStringLiteral(".png");
    if (QFileInfo(path).size() == data.size())
        return path;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        qCWarning(lcServices) << "cannot store the icon image" << path << file.errorString();
        return {};
    }
    return path;
}

} // namespace

float DROVHelper::randomFloatBetween(float a, float b) {
    static thread_local std::mt19937 generator{std::random_device{}()};
    const float d = b - a;
    const std::uint32_t bits = static_cast<std::uint32_t>(generator()) & 0x7FFFFFFFu;
    // The low 31 bits times 2^-31 in single precision: [0, 1], both ends included.
    const float fraction = static_cast<float>(bits) * 4.656612873077393e-10f;
    return fraction * d + a;
}

bool DROVHelper::setIconForPath(const QString& path, const QImage& image) {
    g_autoptr(GFile) file = fileWithMetadata(path);
    if (!file)
        return false;
    if (image.isNull())
        return g_file_set_attribute(file, kCustomIconAttribute, G_FILE_ATTRIBUTE_TYPE_INVALID,
                                    nullptr, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    const QString iconPath = storeIconImage(image);
    return !iconPath.isEmpty() &&
           g_file_set_attribute_string(file, kCustomIconAttribute,
                                       QUrl::fromLocalFile(iconPath).toEncoded().constData(),
                                       G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
}

QImage DROVHelper::iconImageForSamples(const Samples& samples, bool watermark) {
    const int count = static_cast<int>(qMin<std::size_t>(samples.size(), INT_MAX));
    const int side = tileSideForCount(kCanvasSide, kCanvasSide, count);
    QImage canvas(kCanvasSide, kCanvasSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    // From the lower left; bits() detaches once, not per row.
    uchar* const bits = canvas.bits();
    const qsizetype stride = canvas.bytesPerLine();
    int x = 0, y = 0;
    for (const ClickSample& sample : samples) {
        const QRect square = QRect(x, kCanvasSide - y - side, side, side) & canvas.rect();
        const QRgb colour = opaqueColour(sample);
        for (int row = square.top(); row <= square.bottom(); ++row) {
            QRgb* line = reinterpret_cast<QRgb*>(bits + row * stride) + square.left();
            std::fill(line, line + square.width(), colour);
        }
        x += side;
        if (x > kCanvasSide - side) {
            x = 0;
            y += side;
        }
    }
    return watermark ? watermarked(std::move(canvas)) : canvas;
}

// The logo at 0.8 of its size, centred, drawn source-atop: it shows only on painted squares.
QImage DROVHelper::watermarked(QImage picture) {
    const QImage logo(QStringLiteral(":/images/ZWIRLLogo.png"));
    if (logo.isNull())
        return picture;
    const QSizeF scaled = size(logo.deviceIndependentSize(), kLogoScale);
    const QRectF target(kLogoCentre - 0.5 * scaled.width(), kLogoCentre - 0.5 * scaled.height(),
                        scaled.width(), scaled.height());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.drawImage(target, logo);
    painter.end();
    return picture;
}

int tileSideForCount(int w, int h, int n) {
    // The square root in single precision, quotients in double; 64 bits against overflow.
    if (w <= 0 || h <= 0 || std::int64_t(w) * h < n)
        return 0;
    const double ratio = double(h) / double(w);
    const float p = std::sqrt(static_cast<float>(double(n) / ratio));
    const double q = double(p) * ratio;
    const float a = std::floor(p);
    const double b = std::floor(q);
    const int across = a > 1.0f ? static_cast<int>(a) : 1;
    const int down = b > 1.0 ? static_cast<int>(b) : 1;
    const int sx = static_cast<int>(std::floor(double(w) / across));
    const int sy = static_cast<int>(std::floor(double(h) / down));
    const int s = std::min(sx, sy);
    if (s <= 0)
        return 0;
    const std::int64_t cols = static_cast<std::int64_t>(std::floor(double(w) / s));
    const std::int64_t rows = static_cast<std::int64_t>(std::floor(double(h) / s));
    if (rows * cols >= n)
        return s;
    if (rows * (cols + 1) < n && (rows + 1) * cols < n)
        return static_cast<int>(std::min(std::floor(double(w) / double(cols + 1)),
                                         std::floor(double(h) / double(rows + 1))));
    const double c1 = std::ceil(double(n) / double(rows));
    const double r1 = std::ceil(double(n) / double(cols));
    const double s1 = std::min(std::floor(double(w) / c1), std::floor(double(h) / double(rows)));
    const double s2 = std::min(std::floor(double(w) / double(cols)), std::floor(double(h) / r1));
    return static_cast<int>(std::max(s1, s2));
}

} // namespace zwirl
