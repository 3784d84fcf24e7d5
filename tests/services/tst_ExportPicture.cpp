// The exported PNG's layout: the samples picture under the header with logo, texts and line.
#include "services/ExportPicture.h"

#include <QFontDatabase>
#include <QPainter>
#include <QtTest>

using namespace zwirl;

using zwirl::ExportPicture;

namespace {

// The rows between `top` and `bottom` (exclusive) that hold non-white pixels at x >= 100.
QList<int> inkedRows(const QImage& image, int top, int bottom) {
    QList<int> rows;
    for (int y = top; y < bottom; ++y)
        for (int x = 100; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255)) {
                rows << y;
                break;
            }
    return rows;
}

} // namespace

class TestExportPicture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theSamplesPictureSitsUnderTheHeader() {
        QImage samples(512, 512, QImage::Format_ARGB32_Premultiplied);
        samples.fill(qRgb(10, 120, 200));
        const QImage logo(QStringLiteral(":/images/ZWIRLLogoExport.png"));
        QVERIFY(!logo.isNull());

        const QImage picture = ExportPicture::draw(samples,
                                                   QStringLiteral("07:20:00 06/12/26 - "
                                                                  "07:50:09 06/12/26"),
                                                   QStringLiteral("42 zwirl"));
        QCOMPARE(picture.size(), QSize(512, 612));
        QCOMPARE(picture.copy(0, 100, 512, 512), samples);

        // The logo at (25, 26), drawn over white at its own size.
        QImage expectedLogo(logo.size(), QImage::Format_ARGB32_Premultiplied);
        expectedLogo.fill(Qt::white);
        QPainter(&expectedLogo).drawImage(0, 0, logo);
        QCOMPARE(picture.copy(QRect(QPoint(25, 26), logo.size())), expectedLogo);

        // The separator, 10 points above the samples picture, from x = 7 to 14 short of the end.
        QCOMPARE(picture.pixel(6, 89), qRgb(255, 255, 255));
        QCOMPARE(picture.pixel(7, 89), qRgb(170, 170, 170));
        QCOMPARE(picture.pixel(504, 89), qRgb(170, 170, 170));
        QCOMPARE(picture.pixel(505, 89), qRgb(255, 255, 255));

        // Two lines of 12-point text whose line boxes end 52 and 72 points below the top.
        const QList<int> range = inkedRows(picture, 26, 56);
        const QList<int> count = inkedRows(picture, 56, 80);
        QVERIFY(!range.isEmpty() && !count.isEmpty());
        QVERIFY2(range.first() >= 52 - 12 && range.last() < 52,
                 qPrintable(QString::number(range.last())));
        QVERIFY2(count.first() >= 72 - 12 && count.last() < 72,
                 qPrintable(QString::number(count.last())));
    }

    // The header font travels with the program, whatever fonts the system has.
    void theHeaderFontIsAmongTheResources() {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Lato-Light.ttf"));
        QVERIFY(id >= 0);
        QVERIFY(QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("Lato Light")));
        const QFontInfo used(QFont(QStringLiteral("Lato Light"), 12));
        QCOMPARE(used.family(), QStringLiteral("Lato Light"));
    }
};

QTEST_MAIN(TestExportPicture)
#include "tst_ExportPicture.moc"
