// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/ExportPicture.h"

#include "services/ServicesLog.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

namespace zwirl {

namespace {

constexpr int kHeaderHeight = 100;

// "Lato Light" at 12 points travels with the program, whatever fonts the system has.
QFont headerFont() {
    static const bool loaded =
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Lato-Light.ttf")) >= 0;
    if (!loaded)
        qCWarning(lcServices) << "the font Lato Light cannot be loaded";
    QFont font(QStringLiteral("Lato Light"));
    font.setPointSizeF(12.0);
    return font;
}

} // namespace

QImage ExportPicture::draw(const QImage& samplesPicture, const QString& rangeText,
                           const QString& countText) {
    const QImage logo(QStringLiteral(":/images/ZWIRLLogoExport.png"));
    const int width = samplesPicture.width();
    const int height = samplesPicture.height() + kHeaderHeight;

    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    canvas.setDotsPerMeterX(2835);
    canvas.setDotsPerMeterY(2835);
    canvas.fill(Qt::white);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.drawImage(QPointF(0, kHeaderHeight), samplesPicture);
    if (!logo.isNull())
        painter.drawImage(QPointF(25, 26), logo); // its top edge 26 points below the top

    painter.setFont(headerFont());
    painter.setPen(Qt::black);
    // Each text line sits on a line box whose bottom edge is 52 and 72 points below the top.
    const QFontMetricsF metrics(painter.font(), &canvas);
    painter.drawText(QPointF(100, 52 - metrics.descent()), rangeText);
    painter.drawText(QPointF(100, 72 - metrics.descent()), countText);

    painter.fillRect(QRectF(7, kHeaderHeight - 11, width - 14, 1), QColor(170, 170, 170));
    return canvas;
}

} // namespace zwirl
