// The main window's background, the pointing-hand button and the colour view.
#include "ui/DROVColorView.h"
#include "ui/DROVMainWindowView.h"
#include "ui/DROVPointingHandButton.h"

#include <QPainter>
#include <QtTest>

using namespace zwirl;

namespace {

QIcon solidIcon(const QColor& color, int size = 16) {
    QPixmap pixmap(size, size);
    pixmap.fill(color);
    return QIcon(pixmap);
}

void sendEnter(QWidget* widget) {
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QEnterEvent event(inside, inside, widget->mapToGlobal(inside));
    QCoreApplication::sendEvent(widget, &event);
}

void sendLeave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

void sendMove(QWidget* widget) {
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseMove, inside, widget->mapToGlobal(inside), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

QColor pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// Counts paint events and the area they cover.
class PaintCounter : public QObject {
public:
    int paints = 0;
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

} // namespace

class TestUiViews : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theBandCoversTheTop190PointsOrAllOfAShortView_data() {
        QTest::addColumn<QSize>("size");
        QTest::addRow("main window") << QSize(300, 400);
        QTest::addRow("exactly the band") << QSize(120, 190);
        QTest::addRow("lower than the band") << QSize(200, 120);
        QTest::addRow("tall") << QSize(50, 1000);
    }

    void theBandCoversTheTop190PointsOrAllOfAShortView() {
        QFETCH(QSize, size);
        DROVMainWindowView view;
        view.resize(size);
        const QImage image = view.grab().toImage();
        QCOMPARE(image.size(), size);
        const QColor band(255, 103, 102);
        const int bandRows = qMin(190, size.height());
        for (int y = 0; y < size.height(); ++y) {
            const QColor expected = y < bandRows ? band : QColor(Qt::white);
            for (int x : {0, size.width() / 2, size.width() - 1})
                QCOMPARE(pixel(image, x, y), expected);
        }
    }

    void hoverSwapsInTheAlternateImageAndShowsThePointingHand() {
        DROVPointingHandButton button;
        const QIcon normal = solidIcon(Qt::blue);
        const QIcon hover = solidIcon(Qt::red);
        button.setIcon(normal);
        button.setAlternateImage(hover);

        sendEnter(&button);
        QCOMPARE(button.icon().cacheKey(), hover.cacheKey());
        QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);

        button.setCursor(Qt::IBeamCursor); // someone else changed it
        sendMove(&button);
        QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(button.icon().cacheKey(), hover.cacheKey());

        sendLeave(&button);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
        QCOMPARE(button.cursor().shape(), Qt::ArrowCursor);

        // A second hover works the same way.
        sendEnter(&button);
        QCOMPARE(button.icon().cacheKey(), hover.cacheKey());
        sendLeave(&button);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
    }

    void aButtonWithoutNormalImageShowsNoImageAfterExit() {
        DROVPointingHandButton button;
        button.setText(QStringLiteral("text only"));
        button.setAlternateImage(solidIcon(Qt::red));
        sendEnter(&button);
        QVERIFY(!button.icon().isNull());
        sendLeave(&button);
        QVERIFY(button.icon().isNull());
    }

    void aButtonWithoutAlternateImageKeepsItsImage() {
        DROVPointingHandButton button;
        const QIcon normal = solidIcon(Qt::blue);
        button.setIcon(normal);
        sendEnter(&button);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
        QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
        sendLeave(&button);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
        QCOMPARE(button.cursor().shape(), Qt::ArrowCursor);
    }

    void aDisabledButtonLeavesTheCursorButStillSwapsImages() {
        DROVPointingHandButton button;
        const QIcon normal = solidIcon(Qt::blue);
        const QIcon hover = solidIcon(Qt::red);
        button.setIcon(normal);
        button.setAlternateImage(hover);
        button.setEnabled(false);
        button.setCursor(Qt::IBeamCursor);

        sendEnter(&button);
        QCOMPARE(button.cursor().shape(), Qt::IBeamCursor);
        QCOMPARE(button.icon().cacheKey(), hover.cacheKey());
        sendMove(&button);
        QCOMPARE(button.cursor().shape(), Qt::IBeamCursor);

        sendLeave(&button);
        QCOMPARE(button.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
    }

    void aPressRestoresTheNormalImageUntilTheNextEntry() {
        DROVPointingHandButton button;
        const QIcon normal = solidIcon(Qt::blue);
        const QIcon hover = solidIcon(Qt::red);
        button.setIcon(normal);
        button.setAlternateImage(hover);
        button.resize(40, 30);
        int clicks = 0;
        connect(&button, &QAbstractButton::clicked, this, [&] { ++clicks; });

        sendEnter(&button);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
        QCOMPARE(button.cursor().shape(), Qt::ArrowCursor);
        QTest::mouseRelease(&button, Qt::LeftButton);
        QCOMPARE(clicks, 1);

        sendMove(&button);
        QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());

        sendLeave(&button);
        QCOMPARE(button.icon().cacheKey(), normal.cacheKey());
        sendEnter(&button);
        QCOMPARE(button.icon().cacheKey(), hover.cacheKey());
    }

    void aMovedButtonReactsOverItsNewPlaceOnly() {
        QWidget window;
        window.resize(200, 100);
        auto* button = new DROVPointingHandButton(&window);
        const QIcon normal = solidIcon(Qt::blue);
        const QIcon hover = solidIcon(Qt::red);
        button->setIcon(normal);
        button->setAlternateImage(hover);
        button->setGeometry(10, 10, 40, 30);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseMove(&window, QPoint(120, 60));
        QTRY_COMPARE(button->icon().cacheKey(), normal.cacheKey());
        button->setGeometry(100, 40, 60, 40);
        QTest::mouseMove(&window, QPoint(121, 61));
        QTRY_COMPARE(button->icon().cacheKey(), hover.cacheKey());
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);

        QTest::mouseMove(&window, QPoint(20, 20)); // the old place
        QTRY_COMPARE(button->icon().cacheKey(), normal.cacheKey());
        QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);
    }

    void aDisabledButtonsImageIsNotDimmed() {
        const QColor red(255, 0, 0);
        const auto iconCentreWhenDisabled = [&](QPushButton& button) {
            button.setIcon(solidIcon(red, 16));
            button.setIconSize(QSize(16, 16));
            button.setFlat(true);
            button.resize(40, 40);
            button.setEnabled(false);
            return button.grab().toImage().pixelColor(20, 20);
        };
        QPushButton plain;
        // Qt greys out a plain button's icon; this is what the pointing-hand button avoids.
        QVERIFY(iconCentreWhenDisabled(plain) != red);
        DROVPointingHandButton button;
        QCOMPARE(iconCentreWhenDisabled(button), red);
    }

    void aColourViewFillsItsBoundsWithItsColour() {
        DROVColorView view;
        view.resize(30, 20);
        view.setColor(QColor(10, 200, 30));
        QImage image = view.grab().toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(pixel(image, x, y), QColor(10, 200, 30));

        view.setColor(QColor(0, 0, 255));
        image = view.grab().toImage();
        QCOMPARE(pixel(image, 0, 0), QColor(0, 0, 255));
        QCOMPARE(pixel(image, 29, 19), QColor(0, 0, 255));
    }

    void aColourViewWithoutColourShowsWhatIsBehindIt() {
        QWidget parent;
        parent.resize(40, 40);
        parent.setAutoFillBackground(true);
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, QColor(200, 0, 200));
        parent.setPalette(palette);
        auto* view = new DROVColorView(&parent);
        view->setGeometry(10, 10, 20, 20);
        QCOMPARE(parent.grab().toImage().pixelColor(20, 20), QColor(200, 0, 200));

        view->setColor(Qt::green);
        QCOMPARE(parent.grab().toImage().pixelColor(20, 20), QColor(Qt::green));
        view->setColor(QColor());
        QCOMPARE(parent.grab().toImage().pixelColor(20, 20), QColor(200, 0, 200));
    }

    void settingAColourRepaintsTheWholeView() {
        QWidget window;
        window.resize(60, 60);
        auto* view = new DROVColorView(&window);
        view->setGeometry(5, 5, 50, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        PaintCounter counter;
        view->installEventFilter(&counter);
        QTest::qWait(20);
        counter.paints = 0;
        counter.painted = QRegion();

        view->setColor(Qt::yellow);
        QTRY_VERIFY(counter.paints > 0);
        QCOMPARE(counter.painted.boundingRect(), view->rect());

        counter.paints = 0;
        counter.painted = QRegion();
        view->setColor(QColor());
        QTRY_VERIFY(counter.paints > 0);
        QCOMPARE(counter.painted.boundingRect(), view->rect());
    }
};

QTEST_MAIN(TestUiViews)
#include "tst_UiViews.moc"
