// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's background, the pointing-hand button and the colour view.
#include "ui/DROVDebugWindowController.h"
#include "ui/DROVMainWindowView.h"

#include <QPainter>
#include <QtTest>

using namespace zwirl;

namespace {

QIcon solidIcon(const QColor& color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// A button with a blue normal image and, optionally, a red hover image, and the events a
// pointer sends it.
struct Button {
    DROVPointingHandButton widget;
    QIcon normal = solidIcon(Qt::blue), hover = solidIcon(Qt::red);
    explicit Button(bool withHoverImage = true) {
        widget.setIcon(normal);
        if (withHoverImage)
            widget.setAlternateImage(hover);
        widget.resize(40, 30);
    }
    void enter() {
        QEnterEvent event(QPointF(5, 5), QPointF(5, 5), widget.mapToGlobal(QPointF(5, 5)));
        QCoreApplication::sendEvent(&widget, &event);
    }
    void move() {
        QMouseEvent event(QEvent::MouseMove, QPointF(6, 6), widget.mapToGlobal(QPointF(6, 6)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &event);
    }
    void leave() {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(&widget, &event);
    }
    bool shows(const QIcon& icon) const { return widget.icon().cacheKey() == icon.cacheKey(); }
    Qt::CursorShape cursor() const { return widget.cursor().shape(); }
};

} // namespace

class TestUiViews : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theBandCoversTheTop190PointsOrAllOfAShortView() {
        for (const QSize size : {QSize(300, 400), QSize(120, 190), QSize(200, 120)}) {
            DROVMainWindowView view;
            view.resize(size);
            const QImage image = view.grab().toImage();
            for (int y = 0; y < size.height(); ++y)
                for (int x : {0, size.width() - 1})
                    QCOMPARE(image.pixelColor(x, y),
                             y < 190 ? QColor(255, 103, 102) : QColor(Qt::white));
        }
    }

    void hoverSwapsInTheAlternateImageAndShowsThePointingHand() {
        Button b;
        b.enter();
        QVERIFY(b.shows(b.hover));
        QCOMPARE(b.cursor(), Qt::PointingHandCursor);
        b.widget.setCursor(Qt::IBeamCursor); // someone else changed it
        b.move();
        QCOMPARE(b.cursor(), Qt::PointingHandCursor);
        b.leave();
        QVERIFY(b.shows(b.normal));
        QCOMPARE(b.cursor(), Qt::ArrowCursor);

        // A press shows the normal image and the arrow; the hand returns at the next move, the
        // hover image only at the next entry.
        int clicks = 0;
        connect(&b.widget, &QAbstractButton::clicked, this, [&] { ++clicks; });
        b.enter();
        QTest::mousePress(&b.widget, Qt::LeftButton);
        QVERIFY(b.shows(b.normal));
        QCOMPARE(b.cursor(), Qt::ArrowCursor);
        QTest::mouseRelease(&b.widget, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        b.move();
        QCOMPARE(b.cursor(), Qt::PointingHandCursor);
        QVERIFY(b.shows(b.normal));
        b.leave();
        b.enter();
        QVERIFY(b.shows(b.hover));
    }

    void withoutOneOfTheImagesOrDisabled() {
        Button plain(false);
        plain.enter();
        QVERIFY(plain.shows(plain.normal));
        QCOMPARE(plain.cursor(), Qt::PointingHandCursor);
        plain.leave();
        QVERIFY(plain.shows(plain.normal));

        Button textOnly;
        textOnly.widget.setIcon(QIcon());
        textOnly.enter();
        QVERIFY(textOnly.shows(textOnly.hover));
        textOnly.leave();
        QVERIFY(textOnly.widget.icon().isNull());

        // A disabled button leaves the cursor alone but still swaps images.
        Button disabled;
        disabled.widget.setEnabled(false);
        disabled.widget.setCursor(Qt::IBeamCursor);
        disabled.enter();
        disabled.move();
        QCOMPARE(disabled.cursor(), Qt::IBeamCursor);
        QVERIFY(disabled.shows(disabled.hover));
        disabled.leave();
        QCOMPARE(disabled.cursor(), Qt::ArrowCursor);
        QVERIFY(disabled.shows(disabled.normal));

        // Its image is not dimmed, as Qt would do for a plain button.
        const auto iconCentreWhenDisabled = [](QPushButton& button) {
            button.setIcon(solidIcon(Qt::red));
            button.setIconSize(QSize(16, 16));
            button.setFlat(true);
            button.resize(40, 40);
            button.setEnabled(false);
            return button.grab().toImage().pixelColor(20, 20);
        };
        QPushButton qtButton;
        QVERIFY(iconCentreWhenDisabled(qtButton) != QColor(Qt::red));
        QCOMPARE(iconCentreWhenDisabled(disabled.widget), QColor(Qt::red));
    }

    // Without a colour the view shows what lies behind it; with one it fills itself.
    void aColourViewFillsItselfWithItsColour() {
        QWidget parent;
        parent.resize(40, 40);
        parent.setAutoFillBackground(true);
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, QColor(200, 0, 200));
        parent.setPalette(palette);
        auto* view = new DROVColorView(&parent);
        view->setGeometry(10, 10, 20, 20);
        const auto shown = [&] { return parent.grab().toImage(); };
        QCOMPARE(shown().pixelColor(20, 20), QColor(200, 0, 200));
        view->setColor(QColor(10, 200, 30));
        const QImage filled = shown();
        for (const QPoint p : {QPoint(10, 10), QPoint(29, 29), QPoint(20, 20)})
            QCOMPARE(filled.pixelColor(p), QColor(10, 200, 30));
        QCOMPARE(filled.pixelColor(9, 9), QColor(200, 0, 200));
        view->setColor(QColor());
        QCOMPARE(shown().pixelColor(20, 20), QColor(200, 0, 200));
    }

    void settingAColourRepaintsTheWholeView() {
        QWidget window;
        window.resize(60, 60);
        auto* view = new DROVColorView(&window);
        view->setGeometry(5, 5, 50, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        struct PaintRecorder : QObject {
            QRegion painted;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Paint)
                    painted += static_cast<QPaintEvent*>(event)->region();
                return false;
            }
        } recorder;
        view->installEventFilter(&recorder);
        for (const QColor colour : {QColor(Qt::yellow), QColor()}) {
            recorder.painted = QRegion();
            view->setColor(colour);
            QTRY_COMPARE(recorder.painted.boundingRect(), view->rect());
        }
    }
};

QTEST_MAIN(TestUiViews)
#include "tst_UiViews.moc"
