// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/DROVHelper.h"

#include "services/FileIcon.h"
#include "services/Notifications.h"

#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>

namespace zwirl {

float DROVHelper::randomFloatBetween(float a, float b) {
    // A uniformly distributed 32-bit value from the system's entropy-seeded source; the low 31
    // bits scaled by 2^-31 in single precision give [0, 1], both ends included.
    static thread_local std::mt19937 generator{std::random_device{}()};
    const float d = b - a;
    const std::uint32_t bits = static_cast<std::uint32_t>(generator()) & 0x7FFFFFFFu;
    const float fraction = static_cast<float>(bits) * 4.656612873077393e-10f;
    return fraction * d + a;
}

void DROVHelper::notify(const QString& message) {
    Notifications::deliver(message);
}

namespace {

constexpr int kCanvasSide = 512;
constexpr double kLogoCentre = 256.0;
constexpr float kLogoScale = 0.8f;

// Plain 8-bit RGB: components are taken as they are and only saturate where the bitmap ends
// (1.2 paints 255, -0.1 and NaN paint 0), as a wide-gamut colour drawn into an 8-bit bitmap.
QRgb opaqueColour(const ClickSample& sample) {
    int channels[3];
    for (int c = 0; c < 3; ++c) {
        const float component = static_cast<float>(sample[c]);
        channels[c] = !(component > 0.0f) ? 0
                      : component >= 1.0f ? 255
                                          : static_cast<int>(std::lround(component * 255.0f));
    }
    return qRgb(channels[0], channels[1], channels[2]);
}

} // namespace

bool DROVHelper::setIconForPath(const QString& path) {
    return setIconForPath(path, QImage(QStringLiteral(":/images/zwirl.png")));
}

bool DROVHelper::setIconForPath(const QString& path, const QImage& image) {
    // Absolute paths need no round trip through a URL. No image means no custom icon.
    return image.isNull() ? FileIcon::remove(path) : FileIcon::set(path, image);
}

QImage DROVHelper::iconImageForSamples(const Samples& samples, bool watermark) {
    const int count = static_cast<int>(qMin<std::size_t>(samples.size(), INT_MAX));
    const int side = tileSideForCount(kCanvasSide, kCanvasSide, count);
    QImage canvas(kCanvasSide, kCanvasSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    // From the lower-left corner (QImage counts rows from the top, hence the flip), a new row
    // whenever the next square would reach past the right edge. Detached once, not per row.
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

// The logo at 0.8 of its size, centred on the canvas, drawn source-atop so that it shows only
// where squares are already painted. A missing logo draws nothing.
QImage DROVHelper::watermarked(QImage picture) {
    const QImage logo(QStringLiteral(":/images/ZWIRLLogo.png"));
    if (logo.isNull())
        return picture;
    const QSizeF scaled = size(logo.deviceIndependentSize(), kLogoScale);
    // (256, 256) is the centre whether y grows upward or downward.
    const QRectF target(kLogoCentre - 0.5 * scaled.width(), kLogoCentre - 0.5 * scaled.height(),
                        scaled.width(), scaled.height());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.drawImage(target, logo);
    painter.end(); // before the picture is handed back
    return picture;
}

QSizeF DROVHelper::size(QSizeF size, float scale) {
    return size * double(scale);
}

int tileSideForCount(int w, int h, int n) {
    // Quotients in double precision, conversions truncating, the square root in single
    // precision; the product in 64 bits so that large canvases cannot overflow.
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
