// Screen pixels and monitors read from the X server of the test desktop.

#include "platform/DisplayCapture.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QtTest>

using testsupport::ColourStripes;

namespace {

// A window of our own that paints two known colours side by side.
class TwoColours : public QWidget {
public:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(0, 0, width() / 2, height(), QColor(0x12, 0x34, 0x56));
        painter.fillRect(width() / 2, 0, width() - width() / 2, height(), QColor(0xfe, 0x01, 0x80));
    }
};

void compareColor(const std::optional<DisplayCapture::Color>& color, int red, int green, int blue) {
    QVERIFY(color.has_value());
    QCOMPARE(color->red, red / 255.0);
    QCOMPARE(color->green, green / 255.0);
    QCOMPARE(color->blue, blue / 255.0);
}

QStringList runXrandr(const QStringList& args) {
    const auto result = testsupport::runTool(QStringLiteral("xrandr"), args, 10000);
    return {QString::number(result.exitCode), QString::fromLocal8Bit(result.err)};
}

} // namespace

class TestDisplayCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY2(testsupport::inTestDesktop(), "run inside tests/desktop.sh"); }

    void readsTheColoursOfAnotherClientsWindow() {
        const QStringList colours = {"#ff6766", "#ff0000", "#ffffff", "#000000",
                                     "#00ff00", "#0000ff", "#010203"};
        ColourStripes stripes(colours, {100, 120});
        QVERIFY(stripes.isShown());
        const int expected[][3] = {{255, 103, 102}, {255, 0, 0}, {255, 255, 255}, {0, 0, 0},
                                   {0, 255, 0},     {0, 0, 255}, {1, 2, 3}};
        for (int i = 0; i < colours.size(); ++i) {
            const QPoint centre = stripes.centreOf(i);
            compareColor(DisplayCapture::pixelColorAt(centre), expected[i][0], expected[i][1],
                         expected[i][2]);
            if (QTest::currentTestFailed())
                qWarning() << "stripe" << colours[i] << "at" << centre;
        }
        // #ff6766 as the click sample will hold it.
        const auto coral = DisplayCapture::pixelColorAt(stripes.centreOf(0));
        QCOMPARE(coral->red, 1.0);
        QCOMPARE(coral->green, 103.0 / 255.0);
        QCOMPARE(coral->blue, 102.0 / 255.0);
    }

    // The pixel at exactly the given point, not one row or column off: the boundary between
    // two colours of our own window.
    void readsExactlyThePixelAtThePoint() {
        TwoColours window;
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.setGeometry(400, 500, 100, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(200);
        const QPoint origin = window.mapToGlobal(QPoint(0, 0));
        QCOMPARE(origin, QPoint(400, 500));
        compareColor(DisplayCapture::pixelColorAt(QPoint(449, 520)), 0x12, 0x34, 0x56);
        compareColor(DisplayCapture::pixelColorAt(QPoint(450, 520)), 0xfe, 0x01, 0x80);
        compareColor(DisplayCapture::pixelColorAt(QPoint(400, 500)), 0x12, 0x34, 0x56);
        compareColor(DisplayCapture::pixelColorAt(QPoint(499, 539)), 0xfe, 0x01, 0x80);
    }

    void thePointsOfTheScreenAndNoOthers() {
        const QList<QRect> displays = DisplayCapture::displays();
        QCOMPARE(displays.size(), 1);
        const QRect screen = displays.first();
        QCOMPARE(screen, QGuiApplication::primaryScreen()->geometry());
        QCOMPARE(DisplayCapture::displayContainingPoint(screen.topLeft()), screen);
        QCOMPARE(DisplayCapture::displayContainingPoint(screen.bottomRight()), screen);
        QVERIFY(DisplayCapture::pixelColorAt(screen.topLeft()).has_value());
        QVERIFY(DisplayCapture::pixelColorAt(screen.bottomRight()).has_value());
        for (const QPoint outside :
             {QPoint(-1, 0), QPoint(0, -1), screen.bottomRight() + QPoint(1, 0),
              screen.bottomRight() + QPoint(0, 1), QPoint(100000, 5), QPoint(INT_MIN, INT_MAX)}) {
            QVERIFY2(!DisplayCapture::displayContainingPoint(outside),
                     qPrintable(QString::number(outside.x())));
            QVERIFY(!DisplayCapture::pixelColorAt(outside));
        }
    }

    // Two monitors side by side, set up with RandR on the one screen of the test desktop.
    void findsTheMonitorThatHoldsThePoint() {
        const QRect screen = DisplayCapture::displays().first();
        const int half = screen.width() / 2;
        const QString left = QStringLiteral("%1/0x%2/0+0+0").arg(half).arg(screen.height());
        const QString right = QStringLiteral("%1/0x%2/0+%1+0").arg(half).arg(screen.height());
        QCOMPARE(runXrandr({"--setmonitor", "zwirl-left", left, "none"}).first(), "0");
        QCOMPARE(runXrandr({"--setmonitor", "zwirl-right", right, "none"}).first(), "0");
        const auto displays = DisplayCapture::displays();
        const auto atLeft = DisplayCapture::displayContainingPoint({half - 1, 10});
        const auto atRight = DisplayCapture::displayContainingPoint({half, 10});
        runXrandr({"--delmonitor", "zwirl-left"});
        runXrandr({"--delmonitor", "zwirl-right"});
        QVERIFY2(displays.contains(QRect(0, 0, half, screen.height())),
                 qPrintable(QDebug::toString(displays)));
        QCOMPARE(atLeft, QRect(0, 0, half, screen.height()));
        QCOMPARE(atRight, QRect(half, 0, half, screen.height()));
    }
};

QTEST_MAIN(TestDisplayCapture)
#include "tst_DisplayCapture.moc"
