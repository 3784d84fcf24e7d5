// The samples picture: square sizes, positions and colours, the logo laid source-atop.
#include "services/DROVHelper.h"

#include <QPainter>
#include <QtTest>

#include <cmath>

using namespace zwirl;

namespace {

// floor(512 / ceil(sqrt(n))) in integers only.
int expectedSide(int n) {
    int root = 0;
    while (qint64(root) * root < n)
        ++root;
    return 512 / root;
}

// Every sample a different colour, so that a square in the wrong place shows.
Samples distinctSamples(int n) {
    Samples samples;
    for (int i = 0; i < n; ++i)
        samples.push_back({(i % 251) / 250.0, ((i / 251) % 41) / 40.0, (i % 7) / 6.0});
    return samples;
}

QRgb expectedColour(const ClickSample& s) {
    return qRgb(qRound(s[0] * 255), qRound(s[1] * 255), qRound(s[2] * 255));
}

// The picture built independently of the drawing code: pixel (px, py), rows from the top, lies
// in square (column, row) counted from the lower left.
QImage expectedPicture(const Samples& samples) {
    const int n = int(samples.size());
    const int side = expectedSide(n);
    const int perRow = 512 / side;
    QImage expected(512, 512, QImage::Format_ARGB32_Premultiplied);
    for (int py = 0; py < 512; ++py) {
        for (int px = 0; px < 512; ++px) {
            const int column = px / side;
            const int row = (511 - py) / side;
            const int index = row * perRow + column;
            const bool inside = column < perRow && index < n;
            expected.setPixel(px, py, inside ? expectedColour(samples[index]) : 0u);
        }
    }
    return expected;
}

// The first pixel that differs, as text, or an empty string.
QString firstDifference(const QImage& actual, const QImage& expected) {
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("(%1, %2): %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16)
                    .arg(expected.pixel(x, y), 8, 16);
    return {};
}

QRgb pixelFromLowerLeft(const QImage& image, int x, int y) {
    return image.pixel(x, 511 - y);
}

// The scaled logo drawn plainly over an opaque colour: what source-atop shows over squares.
QImage logoOver(QRgb colour) {
    const QImage logo = QImage(QStringLiteral(":/images/ZWIRLLogo.png"));
    QImage reference(512, 512, QImage::Format_ARGB32_Premultiplied);
    reference.fill(colour);
    QPainter painter(&reference);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF size = logo.deviceIndependentSize() * 0.8;
    painter.drawImage(QRectF(QPointF(256 - size.width() / 2, 256 - size.height() / 2), size), logo);
    return reference;
}

bool nearlyEqual(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) <= 2 && qAbs(qGreen(a) - qGreen(b)) <= 2 &&
           qAbs(qBlue(a) - qBlue(b)) <= 2 && qAbs(qAlpha(a) - qAlpha(b)) <= 2;
}

} // namespace

class TestDROVHelperPicture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tileSideMatchesTheSquareRootRuleForEveryCount() {
        int mismatches = 0;
        int firstMismatch = 0;
        for (int n = 1; n <= 262144; ++n) {
            if (tileSideForCount(512, 512, n) != expectedSide(n) && mismatches++ == 0)
                firstMismatch = n;
        }
        QVERIFY2(mismatches == 0, qPrintable(QStringLiteral("%1 counts differ, first n = %2")
                                                 .arg(mismatches)
                                                 .arg(firstMismatch)));
    }

    void tileSideIsZeroWhenTheSquaresCannotFit() {
        QCOMPARE(tileSideForCount(512, 512, 262145), 0);
        QCOMPARE(tileSideForCount(512, 512, INT_MAX), 0);
        QCOMPARE(tileSideForCount(0, 512, 1), 0);
        // Non-square canvases: every square must fit.
        QCOMPARE(tileSideForCount(300, 100, 3), 100);
        QCOMPARE(tileSideForCount(100, 300, 4), 75);
    }

    void squaresSitInRowsFromTheLowerLeft_data() {
        QTest::addColumn<int>("count");
        for (int n : {1, 2, 3, 5, 9999})
            QTest::addRow("%d samples", n) << n;
    }

    void squaresSitInRowsFromTheLowerLeft() {
        QFETCH(int, count);
        const Samples samples = distinctSamples(count);
        const QImage picture = DROVHelper::iconImageForSamples(samples, false);
        QCOMPARE(picture.size(), QSize(512, 512));
        QCOMPARE(picture.format(), QImage::Format_ARGB32_Premultiplied);
        const QString difference = firstDifference(picture, expectedPicture(samples));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void fiveSamplesLeaveTheSixthPlaceTheRightStripAndTheTopEmpty() {
        const Samples samples(5, ClickSample{0.0, 0.0, 1.0});
        const QImage picture = DROVHelper::iconImageForSamples(samples, false);
        const QRgb blue = qRgb(0, 0, 255);
        for (int x : {0, 170, 340})
            QCOMPARE(pixelFromLowerLeft(picture, x + 169, 169), blue);
        for (int x : {0, 170})
            QCOMPARE(pixelFromLowerLeft(picture, x, 170), blue);
        QCOMPARE(qAlpha(pixelFromLowerLeft(picture, 340, 170)), 0); // the sixth place
        QCOMPARE(qAlpha(pixelFromLowerLeft(picture, 510, 0)), 0);   // right strip
        QCOMPARE(qAlpha(pixelFromLowerLeft(picture, 0, 340)), 0);   // top 172 rows
        QCOMPARE(pixelFromLowerLeft(picture, 0, 339), blue);
    }

    void nineThousandNineHundredNinetyNineSamplesReachUpToRow495() {
        const QImage picture =
            DROVHelper::iconImageForSamples(Samples(9999, ClickSample{1, 1, 1}), false);
        QCOMPARE(pixelFromLowerLeft(picture, 509, 0), qRgb(255, 255, 255));
        QCOMPARE(qAlpha(pixelFromLowerLeft(picture, 510, 0)), 0);
        QCOMPARE(pixelFromLowerLeft(picture, 14, 494), qRgb(255, 255, 255)); // 99th row, 3rd
        QCOMPARE(qAlpha(pixelFromLowerLeft(picture, 15, 494)), 0);
        QCOMPARE(qAlpha(pixelFromLowerLeft(picture, 0, 495)), 0);
    }

    void componentsOutsideTheUnitRangeSaturate() {
        const Samples samples{{1.2, -0.1, 0.5}};
        const QImage picture = DROVHelper::iconImageForSamples(samples, false);
        QCOMPARE(picture.pixel(100, 100), qRgb(255, 0, 128));
    }

    void noSamplesGiveATransparentPicture() {
        const QImage picture = DROVHelper::iconImageForSamples({}, true);
        QImage transparent(512, 512, QImage::Format_ARGB32_Premultiplied);
        transparent.fill(Qt::transparent);
        QCOMPARE(picture, transparent);
    }

    void theLogoShowsWholeAndCentredOverOneSquare() {
        QVERIFY2(!QImage(QStringLiteral(":/images/ZWIRLLogo.png")).isNull(),
                 "no ZWIRLLogo among the resources");
        const QImage picture = DROVHelper::iconImageForSamples(Samples{{0.0, 0.5, 0.0}}, true);
        const QImage reference = logoOver(qRgb(0, 128, 0));
        int logoPixels = 0;
        for (int y = 0; y < 512; ++y) {
            for (int x = 0; x < 512; ++x) {
                QVERIFY2(nearlyEqual(picture.pixel(x, y), reference.pixel(x, y)),
                         qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
                logoPixels += picture.pixel(x, y) != qRgb(0, 128, 0);
            }
        }
        QVERIFY(logoPixels > 1000);
    }

    void theLogoShowsOnlyOverPaintedSquares() {
        const QImage picture =
            DROVHelper::iconImageForSamples(Samples(2, ClickSample{0.0, 0.5, 0.0}), true);
        const QImage reference = logoOver(qRgb(0, 128, 0));
        int logoPixelsInLowerHalf = 0;
        for (int y = 0; y < 512; ++y) {
            for (int x = 0; x < 512; ++x) {
                if (y < 256) {
                    QVERIFY2(picture.pixel(x, y) == 0u,
                             qPrintable(QStringLiteral("(%1, %2) painted").arg(x).arg(y)));
                } else {
                    QVERIFY(nearlyEqual(picture.pixel(x, y), reference.pixel(x, y)));
                    logoPixelsInLowerHalf += picture.pixel(x, y) != qRgb(0, 128, 0);
                }
            }
        }
        QVERIFY(logoPixelsInLowerHalf > 500);
        // Without the watermark the squares are plain.
        const QImage plain =
            DROVHelper::iconImageForSamples(Samples(2, ClickSample{0.0, 0.5, 0.0}), false);
        QCOMPARE(plain.pixel(256, 300), qRgb(0, 128, 0));
        // The export draws the squares once and lays the logo over them afterwards.
        QCOMPARE(DROVHelper::watermarked(plain), picture);
    }

    void scalingWidensTheSinglePrecisionFactor() {
        const QSizeF scaled = DROVHelper::size(QSizeF(400, 100), 0.8f);
        QCOMPARE(scaled.width(), 400 * 0.800000011920929);
        QCOMPARE(scaled.height(), 100 * 0.800000011920929);
    }
};

QTEST_MAIN(TestDROVHelperPicture)
#include "tst_DROVHelperPicture.moc"
