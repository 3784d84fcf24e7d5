// The main window's controller with its compiled form, and the debug window.
#include "services/TVKBlock.h"
#include "ui/DROVColorView.h"
#include "ui/DROVDebugWindowController.h"
#include "ui/DROVMainWindowController.h"
#include "ui/DROVMainWindowView.h"
#include "ui/DROVPointingHandButton.h"

#include <QDesktopServices>
#include <QLabel>
#include <QtTest>

#include <functional>

using namespace zwirl;

namespace {

// Records the requests in order; each may run a hook of the test.
class RecordingDelegate : public DROVMainControllerDelegate {
public:
    bool tracking = false;
    mutable int queries = 0;
    QStringList calls;
    std::function<void()> onStart, onStop, onClose;
    void controllerStartAction() override { record(QStringLiteral("start"), onStart); }
    void controllerStopAction() override { record(QStringLiteral("stop"), onStop); }
    void controllerCloseAction() override { record(QStringLiteral("close"), onClose); }
    bool isTracking() const override {
        ++queries;
        return tracking;
    }

private:
    void record(const QString& call, const std::function<void()>& hook) {
        calls << call;
        if (hook)
            hook();
    }
};

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void openUrl(const QUrl& url) { urls << url; }
};

template <typename T> T* child(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

class TestDROVMainWindowController : public QObject {
    Q_OBJECT

    RecordingDelegate m_delegate;
    RecordingDelegate& m_app = m_delegate; // the delegate also answers isTracking

    std::unique_ptr<DROVMainWindowController> loadedController() {
        auto controller = std::make_unique<DROVMainWindowController>();
        controller->setDelegate(&m_delegate);
        controller->window();
        return controller;
    }

    static QString title(const DROVMainWindowController& controller) {
        return controller.buttonStart()->text();
    }

    static void waitForPageSwap(const DROVMainWindowController& controller) {
        QTRY_VERIFY(!controller.pageSwapAnimation() ||
                    controller.pageSwapAnimation()->state() == QAbstractAnimation::Stopped);
    }

private Q_SLOTS:
    void init() {
        m_delegate.tracking = false;
        m_delegate.queries = 0;
        m_delegate.calls.clear();
        m_delegate.onStart = m_delegate.onStop = m_delegate.onClose = nullptr;
    }

    void cleanup() {
        // Windows of released controllers go at the next turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void theWindowIsBuiltFromItsFormOnFirstUse() {
        DROVMainWindowController controller;
        QVERIFY(!controller.isWindowLoaded());
        QVERIFY(!controller.buttonStart());
        QWidget* window = controller.window();
        QCOMPARE(controller.window(), window);
        QVERIFY(window->isWindow());
        QCOMPARE(window->size(), QSize(300, 400));
        // Floats above other windows, without the standard title-bar buttons.
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(!(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowMaximizeButtonHint)));

        QVERIFY(qobject_cast<DROVMainWindowView*>(controller.view()));
        QVERIFY(qobject_cast<DROVPointingHandButton*>(controller.buttonStart()));
        QCOMPARE(controller.menuView()->parentWidget(), controller.holderView());
        QCOMPARE(controller.howToView()->parentWidget(), controller.holderView());

        // The button images come from the resources, with their hover images, also at twice
        // the size for high-density screens.
        auto* close = child<DROVPointingHandButton>(window, "buttonClose");
        QVERIFY(!close->icon().isNull());
        QVERIFY(!close->alternateImage().isNull());
        QVERIFY(close->icon().cacheKey() != close->alternateImage().cacheKey());
        for (const char* name : {"DROVClose", "DROVClose_hover", "DROVBack", "DROVBack_hover",
                                 "DROVHowTo", "DROVHowTo_hover"}) {
            const QImage normal(QStringLiteral(":/images/%1.png").arg(QLatin1String(name)));
            const QImage twice(QStringLiteral(":/images/%1@2x.png").arg(QLatin1String(name)));
            QVERIFY2(!normal.isNull() && twice.size() == normal.size() * 2, name);
        }
    }

    void theTitleShowsTheTrackingStateAtLoad_data() {
        QTest::addColumn<bool>("tracking");
        QTest::addColumn<QString>("title");
        QTest::addRow("no run") << false << QStringLiteral("Start");
        QTest::addRow("run open") << true << QStringLiteral("Stop tracking");
    }

    void theTitleShowsTheTrackingStateAtLoad() {
        QFETCH(bool, tracking);
        QFETCH(QString, title);
        m_app.tracking = tracking;
        auto controller = loadedController();
        QCOMPARE(this->title(*controller), title);
    }

    void aPressWithoutRunAsksToStartAndReadsTheTitleAgain_data() {
        QTest::addColumn<bool>("runBeginsAtOnce");
        QTest::addColumn<QString>("title");
        QTest::addRow("run begins after the fade") << false << QStringLiteral("Start");
        QTest::addRow("run begins at once") << true << QStringLiteral("Stop tracking");
    }

    void aPressWithoutRunAsksToStartAndReadsTheTitleAgain() {
        QFETCH(bool, runBeginsAtOnce);
        QFETCH(QString, title);
        auto controller = loadedController();
        m_delegate.onStart = [&] { m_app.tracking = runBeginsAtOnce; };
        controller->buttonStart()->click();
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("start")});
        QCOMPARE(this->title(*controller), title);
    }

    void aPressDuringARunStopsItAndShowsSavingForOneSecond() {
        m_app.tracking = true;
        auto controller = loadedController();
        QString titleWhenStopped;
        m_delegate.onStop = [&] {
            titleWhenStopped = title(*controller);
            m_app.tracking = false;
        };
        QElapsedTimer clock;
        clock.start();
        controller->buttonStart()->click();
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("stop")});
        QCOMPARE(titleWhenStopped, QStringLiteral("Stop tracking"));
        QCOMPARE(title(*controller), QStringLiteral("Saving to desktop..."));

        QTRY_COMPARE_WITH_TIMEOUT(title(*controller), QStringLiteral("Start"), 5000);
        QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("stop")});
    }

    void aPressActsOnTheLiveStateNotOnTheTitle() {
        m_app.tracking = true;
        auto controller = loadedController();
        QCOMPARE(title(*controller), QStringLiteral("Stop tracking"));
        m_app.tracking = false; // the run ended elsewhere; the title is not told
        QCOMPARE(title(*controller), QStringLiteral("Stop tracking"));
        controller->buttonStart()->click();
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("start")});
    }

    void aPendingTitleCheckOfAReleasedControllerDoesNothing() {
        m_app.tracking = true;
        auto controller = loadedController();
        m_delegate.onStop = [&] { m_app.tracking = false; };
        controller->buttonStart()->click();
        const int queriesBefore = m_app.queries;
        controller.reset(); // the application delegate closes the window and lets go
        // A block scheduled after the title check runs after it: by then the check has found
        // no controller and asked nothing.
        bool after = false;
        TVKBlock::performBlock([&] { after = true; }, DROVMainWindowController::kTitleCheckDelay);
        QTRY_VERIFY_WITH_TIMEOUT(after, 5000);
        QCOMPARE(m_app.queries, queriesBefore);
    }

    void theDelegateMayLetGoOfTheControllerWhileHandlingAPress() {
        for (bool tracking : {false, true}) {
            auto controller = loadedController();
            m_delegate.tracking = tracking;
            QPointer<QWidget> window = controller->window();
            m_delegate.onStart = m_delegate.onStop = [&] { controller.reset(); };
            window->findChild<QAbstractButton*>(QStringLiteral("buttonStart"))->click();
            QVERIFY(!controller);
            QTRY_VERIFY(!window); // deleted once back in the event loop
        }
    }

    void theCloseControlGoesThroughTheDelegateOnly() {
        auto controller = loadedController();
        QWidget* window = controller->window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        child<QAbstractButton>(window, "buttonClose")->click();
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("close")});
        QVERIFY(window->isVisible());

        controller->setDelegate(nullptr);
        child<QAbstractButton>(window, "buttonClose")->click();
        QVERIFY(window->isVisible());

        controller->close();
        QVERIFY(!window->isVisible());
    }

    void closingByTheWindowManagerAsksTheDelegate() {
        auto controller = loadedController();
        QWidget* window = controller->window();
        m_delegate.onClose = [&] { controller->close(); };
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->close();
        QTRY_COMPARE(m_delegate.calls, QStringList{QStringLiteral("close")});
        QVERIFY(!window->isVisible());
    }

    void theHowToPagePushesInFromTheRightAndTheMenuComesBackFromTheLeft() {
        auto controller = loadedController();
        QWidget* window = controller->window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QWidget* menu = controller->menuView();
        QWidget* howTo = controller->howToView();
        QCOMPARE(controller->currentPage(), menu);
        QVERIFY(menu->isVisible());
        QVERIFY(!howTo->isVisible());

        child<QAbstractButton>(window, "buttonHowTo")->click();
        QCOMPARE(controller->currentPage(), howTo);
        QVERIFY(controller->pageSwapAnimation());
        QCOMPARE(controller->pageSwapAnimation()->totalDuration(),
                 DROVMainWindowController::kSlideDurationMs);
        QVERIFY(howTo->isVisible());
        QVERIFY(howTo->x() > 0);
        QVERIFY(menu->x() <= 0);
        waitForPageSwap(*controller);
        QCOMPARE(howTo->geometry(), controller->holderView()->rect());
        QVERIFY(!menu->isVisible());

        child<QAbstractButton>(window, "buttonBack")->click();
        QCOMPARE(controller->currentPage(), menu);
        QVERIFY(menu->isVisible());
        QVERIFY(menu->x() < 0);
        QVERIFY(howTo->x() >= 0);
        waitForPageSwap(*controller);
        QCOMPARE(menu->geometry(), controller->holderView()->rect());
        QVERIFY(!howTo->isVisible());
    }

    void aSwapDuringASwapEndsOnTheLastPageAskedFor() {
        auto controller = loadedController();
        controller->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(controller->window()));
        controller->showHowTo();
        controller->closeHowTo();
        controller->showHowTo();
        controller->showHowTo(); // already there: nothing moves
        waitForPageSwap(*controller);
        QCOMPARE(controller->currentPage(), controller->howToView());
        QCOMPARE(controller->howToView()->pos(), QPoint(0, 0));
        QVERIFY(controller->howToView()->isVisible());
        QVERIFY(!controller->menuView()->isVisible());
    }

    void theWebSiteControlOpensTheMakersSite() {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "openUrl");
        auto controller = loadedController();
        child<QAbstractButton>(controller->window(), "buttonWebsite")->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(recorder.urls.size(), 1);
        QCOMPARE(recorder.urls.first(),
                 QUrl(QString::fromLatin1(DROVMainWindowController::kMakerWebsite)));
        QVERIFY(recorder.urls.first().isValid());
        QVERIFY(m_delegate.calls.isEmpty());
    }

    void theDebugWindowHoldsASwatchAndALabel() {
        DROVDebugWindowController debug;
        QVERIFY(!debug.clrView());
        QVERIFY(!debug.clrLabel());
        QWidget* window = debug.window();
        QVERIFY(window);
        QVERIFY(debug.clrView());
        QVERIFY(debug.clrLabel());
        QVERIFY(window->isAncestorOf(debug.clrView()));

        window->resize(240, 200);
        debug.clrView()->setColor(QColor(1, 2, 250));
        const QImage swatch = debug.clrView()->grab().toImage();
        QCOMPARE(swatch.pixelColor(swatch.width() / 2, swatch.height() / 2), QColor(1, 2, 250));
    }
};

QTEST_MAIN(TestDROVMainWindowController)
#include "tst_DROVMainWindowController.moc"
