// SPDX-License-Identifier: GPL-3.0-or-later
// The exported PNG's layout: the samples picture under the header with logo, texts and line.
#include "services/ExportPicture.h"

#include <QFontDatabase>
#include <QPainter>
#include <QtTest>

using namespace zwirl;

class TestExportPicture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theSamplesPictureSitsUnderTheHeader() {
        QImage samples(512, 512, QImage::Format_ARGB32_Premultiplied);
        samples.fill(qRgb(10, 120, 200));
        const QImage logo(QStringLiteral(":/images/ZWIRLLogoExport.png"));
        QVERIFY(!logo.isNull());

        const QImage picture =
            ExportPicture::draw(samples, QStringLiteral("07:20:00 06/12/26 - 07:50:09 06/12/26"),
                                QStringLiteral("42 zwirl"));
        QCOMPARE(picture.size(), QSize(512, 612));
        QCOMPARE(picture.copy(0, 100, 512, 512), samples);

        // The logo at (25, 26), drawn over white at its own size.
        QImage expectedLogo(logo.size(), QImage::Format_ARGB32_Premultiplied);
        expectedLogo.fill(Qt::white);
        QPainter(&expectedLogo).drawImage(0, 0, logo);
        QCOMPARE(picture.copy(QRect(QPoint(25, 26), logo.size())), expectedLogo);

        // The separator, 10 points above the samples picture, from x = 7 to 14 short of the end.
        const QList<QRgb> line{picture.pixel(6, 89), picture.pixel(7, 89), picture.pixel(504, 89),
                               picture.pixel(505, 89)};
        QCOMPARE(line, (QList<QRgb>{qRgb(255, 255, 255), qRgb(170, 170, 170), qRgb(170, 170, 170),
                                    qRgb(255, 255, 255)}));

        // Two lines of 12-point text whose line boxes end 52 and 72 points below the top.
        const auto inkedRows = [&](int top, int bottom) {
            QList<int> rows;
            for (int y = top; y < bottom; ++y)
                for (int x = 100; x < picture.width(); ++x)
                    if (picture.pixel(x, y) != qRgb(255, 255, 255)) {
                        rows << y;
                        break;
                    }
            return rows;
        };
        const QList<int> range = inkedRows(26, 56), count = inkedRows(56, 80);
        QVERIFY(!range.isEmpty() && !count.isEmpty());
        QVERIFY2(range.first() >= 40 && range.last() < 52,
                 qPrintable(QString::number(range.last())));
        QVERIFY2(count.first() >= 60 && count.last() < 72,
                 qPrintable(QString::number(count.last())));

        // The header font travels with the program, whatever fonts the system has.
        const QFontInfo used(QFont(QStringLiteral("Lato Light"), 12));
        QCOMPARE(used.family(), QStringLiteral("Lato Light"));
    }
};

QTEST_MAIN(TestExportPicture)
#include "tst_ExportPicture.moc"
