// The delegate's own decisions, in process: which stored clicks a restored run keeps and what
// the click-limit alert says.
#include "app/DROVAppDelegate.h"
#include "ui/DROVMainWindowController.h"

#include "support/TestSupport.h"

#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <algorithm>

class TestDROVAppDelegate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void storedSamplesKeepOnlyEntriesOfThreeNumbers() {
        const QVariantList stored{
            QVariantList{0.5, 0.25, 1.0},
            QVariantList{QStringLiteral("0.1"), 0.2, 0.3},   // as a settings file gives them back
            QVariantList{0.1, 0.2},                          // too short
            QStringLiteral("red"),                           // not a list
            QVariantList{0.1, QStringLiteral("green"), 0.3}, // not a number
            QVariantList{1.0, 0.0, 0.0, 99.0},               // extra values are ignored
        };
        const std::optional<Samples> valid = DROVAppDelegate::validSamples(stored);
        QVERIFY(valid);
        const Samples expected{{0.5, 0.25, 1.0}, {0.1, 0.2, 0.3}, {1.0, 0.0, 0.0}};
        QCOMPARE(valid->size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            QCOMPARE((*valid)[i], expected[i]);

        QVERIFY(!DROVAppDelegate::validSamples(QVariantList{QStringLiteral("x"), 3}));
        QVERIFY(!DROVAppDelegate::validSamples(QVariantList{}));
        QVERIFY(!DROVAppDelegate::validSamples(QStringLiteral("not a list")));
    }

    void startFadesTheWindowOutThenTracks() {
        DROVAppDelegate delegate;
        delegate.showWindow();
        QVERIFY(delegate.mainWindowController());
        QPointer<QWidget> window = delegate.mainWindowController()->window();
        QVERIFY(window && window->isVisible());

        delegate.controllerStartAction();
        delegate.controllerStartAction(); // a second press during the fade changes nothing
        QVERIFY(delegate.isStarting());
        QVERIFY(!delegate.isTracking());
        QList<double> opacities;
        QVERIFY(testsupport::waitFor(
            [&] {
                if (window)
                    opacities << window->windowOpacity();
                return delegate.isTracking();
            },
            5000));
        QVERIFY(!delegate.isStarting());
        QVERIFY(!delegate.mainWindowController());
        QVERIFY(!window || !window->isVisible());
        // The window faded: it went down step by step, never back up.
        QVERIFY(std::any_of(opacities.cbegin(), opacities.cend(),
                            [](double o) { return o > 0.0 && o < 1.0; }));
        QVERIFY(std::is_sorted(opacities.crbegin(), opacities.crend()));
        delegate.controllerStopAction();
        QVERIFY(!delegate.isTracking());
    }

    void closingTheWindowDuringTheFadeStillStartsTheRun() {
        DROVAppDelegate delegate;
        delegate.showWindow();
        delegate.controllerStartAction();
        delegate.showWindow(); // the window's toggle closes it while it fades
        QVERIFY(!delegate.mainWindowController());
        QVERIFY(testsupport::waitFor([&] { return delegate.isTracking(); }, 5000));
        QVERIFY(!delegate.isStarting());
        delegate.controllerStopAction();
    }

    void theClickLimitAlertNamesTheAppAndTheLimit() {
        QApplication::setApplicationDisplayName(QStringLiteral("zwirl"));
        DROVAppDelegate delegate;
        QString title, text, informative;
        QMessageBox::StandardButtons buttons;
        // The alert is modal: it is read and dismissed from inside its own event loop.
        QTimer reader;
        connect(&reader, &QTimer::timeout, this, [&] {
            auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!alert)
                return;
            title = alert->windowTitle();
            text = alert->text();
            informative = alert->informativeText();
            buttons = alert->standardButtons();
            alert->accept();
        });
        reader.start(20);
        delegate.reachedMaxClicks();
        reader.stop();

        QCOMPARE(title, QStringLiteral("zwirl"));
        QCOMPARE(text, QStringLiteral("zwirl"));
        QCOMPARE(informative,
                 QStringLiteral("You've reached 9999 clicks - that's a lot of data and we will "
                                "stop counting now! listen to your clicks (located on the "
                                "desktop)."));
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!delegate.isTracking());
        // The run had no clicks: its job ends without writing anything.
        QVERIFY(testsupport::waitFor([&] { return !delegate.isExporting(); }, 10000));
    }
};

QTEST_MAIN(TestDROVAppDelegate)
#include "tst_DROVAppDelegate.moc"
