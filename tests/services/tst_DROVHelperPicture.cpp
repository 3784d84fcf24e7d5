// SPDX-License-Identifier: GPL-3.0-or-later
// The samples picture: square sizes, positions and colours, the logo laid source-atop.
#include "services/DROVHelper.h"

#include <QPainter>
#include <QtTest>

using namespace zwirl;

namespace {

// floor(512 / ceil(sqrt(n))) in integers only.
int expectedSide(int n) {
    int root = 0;
    while (qint64(root) * root < n)
        ++root;
    return 512 / root;
}

// The picture built independently of the drawing code: pixel (px, py), rows from the top, lies
// in square (column, row) counted from the lower left.
QImage expectedPicture(const Samples& samples) {
    const int n = int(samples.size());
    const int side = expectedSide(n);
    const int perRow = 512 / side;
    QImage expected(512, 512, QImage::Format_ARGB32_Premultiplied);
    for (int py = 0; py < 512; ++py)
        for (int px = 0; px < 512; ++px) {
            const int column = px / side;
            const int index = (511 - py) / side * perRow + column;
            const ClickSample& s = samples[std::min(index, n - 1)];
            expected.setPixel(px, py,
                              column < perRow && index < n
                                  ? qRgb(qRound(s[0] * 255), qRound(s[1] * 255), qRound(s[2] * 255))
                                  : 0u);
        }
    return expected;
}

} // namespace

class TestDROVHelperPicture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tileSideIsTheLargestThatFits() {
        int mismatches = 0, firstMismatch = 0;
        for (int n = 1; n <= 262144; ++n)
            if (tileSideForCount(512, 512, n) != expectedSide(n) && mismatches++ == 0)
                firstMismatch = n;
        QVERIFY2(mismatches == 0, qPrintable(QStringLiteral("%1 counts differ, first n = %2")
                                                 .arg(mismatches)
                                                 .arg(firstMismatch)));
        QCOMPARE(tileSideForCount(512, 512, 262145), 0);
        QCOMPARE(tileSideForCount(512, 512, INT_MAX), 0);
        QCOMPARE(tileSideForCount(0, 512, 1), 0);
        QCOMPARE(tileSideForCount(300, 100, 3), 100);
        QCOMPARE(tileSideForCount(100, 300, 4), 75);
    }

    // Every sample a different colour, so that a square in the wrong place shows: 5 samples
    // leave a sixth place, a right strip and the top empty; 9999 end in a 99th row of three.
    void squaresSitInRowsFromTheLowerLeft() {
        for (int count : {1, 2, 3, 5, 9999}) {
            Samples samples;
            for (int i = 0; i < count; ++i)
                samples.push_back({(i % 251) / 250.0, ((i / 251) % 41) / 40.0, (i % 7) / 6.0});
            const QImage picture = DROVHelper::iconImageForSamples(samples, false);
            QCOMPARE(picture.format(), QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(picture, expectedPicture(samples));
        }
        // Components beyond 0..1 saturate.
        QCOMPARE(DROVHelper::iconImageForSamples({{1.2, -0.1, 0.5}}, false).pixel(100, 100),
                 qRgb(255, 0, 128));
        QImage transparent(512, 512, QImage::Format_ARGB32_Premultiplied);
        transparent.fill(Qt::transparent);
        QCOMPARE(DROVHelper::iconImageForSamples({}, true), transparent);
    }

    // One square shows the whole logo centred at 0.8 of its size; over two squares only the
    // lower half shows and the upper half stays transparent.
    void theLogoShowsOnlyOverPaintedSquares() {
        const QImage logo(QStringLiteral(":/images/ZWIRLLogo.png"));
        QVERIFY2(!logo.isNull(), "no ZWIRLLogo among the resources");
        QImage reference(512, 512, QImage::Format_ARGB32_Premultiplied);
        reference.fill(qRgb(0, 128, 0));
        {
            QPainter painter(&reference);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            const QSizeF size = DROVHelper::size(logo.deviceIndependentSize(), 0.8f);
            QCOMPARE(size.width(), logo.deviceIndependentSize().width() * 0.800000011920929);
            painter.drawImage(
                QRectF(QPointF(256 - size.width() / 2, 256 - size.height() / 2), size), logo);
        }
        for (int count : {1, 2}) {
            const Samples samples(count, ClickSample{0.0, 0.5, 0.0});
            const QImage picture = DROVHelper::iconImageForSamples(samples, true);
            int logoPixels = 0;
            for (int y = 0; y < 512; ++y)
                for (int x = 0; x < 512; ++x) {
                    const QRgb a = picture.pixel(x, y), b = reference.pixel(x, y);
                    if (count == 2 && y < 256) {
                        QCOMPARE(a, 0u);
                        continue;
                    }
                    QVERIFY2(qAbs(qRed(a) - qRed(b)) <= 2 && qAbs(qGreen(a) - qGreen(b)) <= 2 &&
                                 qAbs(qBlue(a) - qBlue(b)) <= 2 && qAlpha(a) == 255,
                             qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
                    logoPixels += a != qRgb(0, 128, 0);
                }
            QVERIFY(logoPixels > 500);
            // The export draws the squares once and lays the logo over them afterwards.
            const QImage plain = DROVHelper::iconImageForSamples(samples, false);
            QCOMPARE(plain.pixel(256, 300), qRgb(0, 128, 0));
            QCOMPARE(DROVHelper::watermarked(plain), picture);
        }
    }
};

QTEST_MAIN(TestDROVHelperPicture)
#include "tst_DROVHelperPicture.moc"
