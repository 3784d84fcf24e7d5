// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controller with its compiled form, and the debug window.
#include "services/TVKBlock.h"
#include "ui/DROVDebugWindowController.h"
#include "ui/DROVMainWindowController.h"
#include "ui/DROVMainWindowView.h"

#include <QAccessible>
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
    void controllerSetUpAction() override { record(QStringLiteral("set-up"), {}); }
    bool isTracking() const override { return ++queries, tracking; }

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

QAbstractButton* button(DROVMainWindowController& controller, const char* name) {
    return controller.window()->findChild<QAbstractButton*>(QString::fromLatin1(name));
}

} // namespace

class TestDROVMainWindowController : public QObject {
    Q_OBJECT

    RecordingDelegate m_delegate;

    std::unique_ptr<DROVMainWindowController> shownController() {
        auto controller = std::make_unique<DROVMainWindowController>();
        controller->setDelegate(&m_delegate);
        controller->window()->show();
        return QTest::qWaitForWindowExposed(controller->window()) ? std::move(controller) : nullptr;
    }

    static QString title(const DROVMainWindowController& controller) {
        return controller.buttonStart()->text();
    }

    static void waitForPageSwap(const DROVMainWindowController& controller) {
        QTRY_VERIFY(!controller.pageSwapAnimation() ||
                    controller.pageSwapAnimation()->state() == QAbstractAnimation::Stopped);
    }

private Q_SLOTS:
    void init() { m_delegate = RecordingDelegate(); }

    void cleanup() {
        // Windows of released controllers go at the next turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void theWindowIsBuiltFromItsFormOnFirstUse() {
        DROVMainWindowController controller;
        QVERIFY(!controller.buttonStart());
        QWidget* window = controller.window();
        QCOMPARE(controller.window(), window);
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
        auto* close = qobject_cast<DROVPointingHandButton*>(button(controller, "buttonClose"));
        QVERIFY(!close->icon().isNull() && !close->alternateImage().isNull());
        QVERIFY(close->icon().cacheKey() != close->alternateImage().cacheKey());
        for (const char* name : {"DROVClose", "DROVClose_hover", "DROVBack", "DROVBack_hover",
                                 "DROVHowTo", "DROVHowTo_hover"}) {
            const QImage normal(QStringLiteral(":/images/%1.png").arg(QLatin1String(name)));
            const QImage twice(QStringLiteral(":/images/%1@2x.png").arg(QLatin1String(name)));
            QVERIFY2(!normal.isNull() && twice.size() == normal.size() * 2, name);
        }

        // The web site control opens the maker's site and asks nothing of the delegate.
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "openUrl");
        button(controller, "buttonWebsite")->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(recorder.urls,
                 QList<QUrl>{QUrl(QString::fromLatin1(DROVMainWindowController::kMakerWebsite))});
        QVERIFY(recorder.urls.first().isValid());
    }

    // Read out by a screen reader, every button says what it does; one that shows no text says
    // it in its tooltip as well.
    void everyButtonHasANameForAssistiveTools() {
        DROVMainWindowController controller;
        const auto buttons = controller.window()->findChildren<QAbstractButton*>();
        QCOMPARE(buttons.size(), 6);
        for (QAbstractButton* button : buttons) {
            QAccessibleInterface* node = QAccessible::queryAccessibleInterface(button);
            QVERIFY(node && node->role() == QAccessible::Button);
            const QString name = node->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty() && name == name.trimmed() &&
                         (!button->text().isEmpty() || !button->toolTip().isEmpty()),
                     qPrintable(button->objectName()));
        }
    }

    // The title shows the state at load and after a start request; a press acts on the live
    // state, not on the title.
    void aPressWithoutRunAsksToStartAndReadsTheTitleAgain() {
        for (bool runBeginsAtOnce : {false, true}) {
            m_delegate = RecordingDelegate();
            m_delegate.tracking = true;
            auto controller = shownController();
            QCOMPARE(title(*controller), QStringLiteral("Stop tracking"));
            m_delegate.tracking = false; // the run ended elsewhere; the title is not told
            QCOMPARE(title(*controller), QStringLiteral("Stop tracking"));
            m_delegate.onStart = [&] { m_delegate.tracking = runBeginsAtOnce; };
            controller->buttonStart()->click();
            QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("start")});
            QCOMPARE(title(*controller),
                     runBeginsAtOnce ? QStringLiteral("Stop tracking") : QStringLiteral("Start"));
        }
        m_delegate.tracking = false;
        QCOMPARE(title(*shownController()), QStringLiteral("Start"));
    }

    void aPressDuringARunStopsItAndShowsSavingForOneSecond() {
        m_delegate.tracking = true;
        auto controller = shownController();
        QString titleWhenStopped;
        m_delegate.onStop = [&] {
            titleWhenStopped = title(*controller);
            m_delegate.tracking = false;
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

        // A pending title check of a released controller asks nothing: a block scheduled
        // after it runs after it.
        m_delegate.tracking = true;
        controller->buttonStart()->click();
        const int queriesBefore = m_delegate.queries;
        controller.reset();
        bool after = false;
        TVKBlock::performBlock([&] { after = true; }, DROVMainWindowController::kTitleCheckDelay);
        QTRY_VERIFY_WITH_TIMEOUT(after, 5000);
        QCOMPARE(m_delegate.queries, queriesBefore);
    }

    void theDelegateMayLetGoOfTheControllerWhileHandlingAPress() {
        for (bool tracking : {false, true}) {
            auto controller = shownController();
            m_delegate.tracking = tracking;
            QPointer<QWidget> window = controller->window();
            m_delegate.onStart = m_delegate.onStop = [&] { controller.reset(); };
            window->findChild<QAbstractButton*>(QStringLiteral("buttonStart"))->click();
            QVERIFY(!controller);
            QTRY_VERIFY(!window); // deleted once back in the event loop
        }
    }

    // The close control and the window manager close the window only through the delegate.
    void closingGoesThroughTheDelegate() {
        auto controller = shownController();
        QWidget* window = controller->window();
        button(*controller, "buttonClose")->click();
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("close")});
        QVERIFY(window->isVisible());
        m_delegate.onClose = [&] { controller->close(); };
        window->close();
        QTRY_COMPARE(m_delegate.calls.size(), 2);
        QVERIFY(!window->isVisible());

        window->show();
        controller->setDelegate(nullptr);
        button(*controller, "buttonClose")->click();
        QVERIFY(window->isVisible());
    }

    // The set-up notice takes the tagline's place, its link asks the delegate, and an empty
    // text takes it away.
    void theSetUpNoticeShowsItsTextAndAsksForTheSetUp() {
        auto controller = shownController();
        controller->showSetUp("The extension is <off>.", "Turn On");
        QLabel* notice = controller->setUpNotice();
        QVERIFY(notice && notice->isVisible());
        QVERIFY(notice->text().startsWith("The extension is &lt;off&gt;. <a href=\"set-up\""));
        QVERIFY(notice->text().endsWith(">Turn On</a>"));
        QVERIFY(!notice->geometry().intersects(controller->buttonStart()->geometry()));
        Q_EMIT notice->linkActivated("set-up");
        QCOMPARE(m_delegate.calls, QStringList{"set-up"});
        controller->showSetUp({}, {});
        QVERIFY(!notice->isVisible());
        QVERIFY(controller->menuView()->findChild<QWidget*>("labelTagline")->isVisible());
    }

    // Return presses the button with the focus, which follows the pages; the main button when
    // no button has it.
    void returnPressesTheFocusedButton() {
        auto controller = shownController();
        QWindow* window = controller->window()->windowHandle();
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Tab);
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(controller->currentPage(), controller->howToView());
        waitForPageSwap(*controller);
        QTest::keyClick(window, Qt::Key_Enter);
        QCOMPARE(controller->currentPage(), controller->menuView());
        waitForPageSwap(*controller);
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(m_delegate.calls, QStringList{QStringLiteral("start")});
        controller->buttonStart()->clearFocus();
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_COMPARE(m_delegate.calls.size(), 2);
    }

    void theHowToPagePushesInFromTheRightAndTheMenuComesBackFromTheLeft() {
        auto controller = shownController();
        QWidget* menu = controller->menuView();
        QWidget* howTo = controller->howToView();
        QCOMPARE(controller->currentPage(), menu);
        QVERIFY(menu->isVisible() && !howTo->isVisible());

        button(*controller, "buttonHowTo")->click();
        QCOMPARE(controller->currentPage(), howTo);
        QCOMPARE(controller->pageSwapAnimation()->totalDuration(),
                 DROVMainWindowController::kSlideDurationMs);
        QVERIFY(howTo->isVisible() && howTo->x() > 0 && menu->x() <= 0);
        waitForPageSwap(*controller);
        QCOMPARE(howTo->geometry(), controller->holderView()->rect());
        QVERIFY(!menu->isVisible());

        button(*controller, "buttonBack")->click();
        QCOMPARE(controller->currentPage(), menu);
        QVERIFY(menu->isVisible() && menu->x() < 0 && howTo->x() >= 0);
        waitForPageSwap(*controller);
        QCOMPARE(menu->geometry(), controller->holderView()->rect());
        QVERIFY(!howTo->isVisible());

        // A swap during a swap ends on the last page asked for.
        controller->showHowTo();
        controller->closeHowTo();
        controller->showHowTo();
        controller->showHowTo(); // already there: nothing moves
        waitForPageSwap(*controller);
        QCOMPARE(controller->currentPage(), howTo);
        QCOMPARE(howTo->pos(), QPoint(0, 0));
        QVERIFY(howTo->isVisible() && !menu->isVisible());
        QVERIFY(m_delegate.calls.isEmpty());
    }

    void theDebugWindowHoldsASwatchAndALabel() {
        DROVDebugWindowController debug;
        QVERIFY(!debug.clrView() && !debug.clrLabel());
        QWidget* window = debug.window();
        QVERIFY(debug.clrLabel() && window->isAncestorOf(debug.clrView()));
        window->resize(240, 200);
        debug.clrView()->setColor(QColor(1, 2, 250));
        const QImage swatch = debug.clrView()->grab().toImage();
        QCOMPARE(swatch.pixelColor(swatch.width() / 2, swatch.height() / 2), QColor(1, 2, 250));
    }
};

QTEST_MAIN(TestDROVMainWindowController)
#include "tst_DROVMainWindowController.moc"
