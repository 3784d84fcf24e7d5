// The global left-click monitor against real clicks (XTest through xdotool) in the test
// desktop: clicks on another client's window count, our own windows, menus and tray icon don't.

#include "platform/EventMonitor.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QtTest>

using testsupport::ColourStripes;
using testsupport::runTool;
using testsupport::waitFor;

namespace {

// Longer than the monitor ever holds a press.
constexpr int kSettleMs = 300;

// Runs xdotool while this process keeps serving its events, so that the monitor reads each
// press as it happens (a blocked event loop would only see presses that are already stale).
bool xdotool(const QStringList& args) {
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    process.start(QStringLiteral("xdotool"), args);
    loop.exec();
    return process.state() == QProcess::NotRunning &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool clickButtonAt(QPoint point, int button, int count = 1) {
    return xdotool({"mousemove", QString::number(point.x()), QString::number(point.y()), "click",
                    "--repeat", QString::number(count), "--delay", "30", QString::number(button)});
}

// A widget of ours that counts the presses Qt delivers to it.
class PressTarget : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::darkCyan); }
};

// A monitor that counts its calls and is removed with the object.
struct CountingMonitor {
    int calls = 0;
    EventMonitor* monitor = EventMonitor::addGlobalMonitorForLeftMouseDown([this] { ++calls; });
    ~CountingMonitor() { EventMonitor::removeMonitor(monitor); }
    bool waitForCalls(int expected) {
        return waitFor([&] { return calls >= expected; }, 3000) && settled(expected);
    }
    bool settled(int expected) {
        QTest::qWait(kSettleMs);
        return calls == expected;
    }
};

} // namespace

class TestEventMonitor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(testsupport::inTestDesktop(), "run inside tests/desktop.sh");
        m_stripes = std::make_unique<ColourStripes>(QStringList{"#ff6766", "#2040ff"},
                                                    QPoint(100, 100), 100, 150);
        QVERIFY(m_stripes->isShown());
    }

    void cleanupTestCase() { m_stripes.reset(); }

    void mouseLocationIsTheRootPosition() {
        QVERIFY(xdotool({"mousemove", "123", "45"}));
        QCOMPARE(EventMonitor::mouseLocation(), QPoint(123, 45));
        QVERIFY(xdotool({"mousemove", "1279", "799"}));
        QCOMPARE(EventMonitor::mouseLocation(), QPoint(1279, 799));
    }

    void eachLeftClickOnAnotherWindowIsReportedOnce() {
        CountingMonitor counter;
        QVERIFY(clickButtonAt(m_stripes->centreOf(0), 1));
        QVERIFY(counter.waitForCalls(1));
        // A double click and a quick series are separate presses.
        QVERIFY(clickButtonAt(m_stripes->centreOf(1), 1, 5));
        QVERIFY(counter.waitForCalls(6));
    }

    void theHandlerSeesThePointerWhereTheClickWas() {
        QPoint seen;
        EventMonitor* monitor = EventMonitor::addGlobalMonitorForLeftMouseDown(
            [&] { seen = EventMonitor::mouseLocation(); });
        QVERIFY(clickButtonAt(m_stripes->centreOf(1) + QPoint(3, 7), 1));
        QVERIFY(waitFor([&] { return !seen.isNull(); }, 3000));
        EventMonitor::removeMonitor(monitor);
        QCOMPARE(seen, m_stripes->centreOf(1) + QPoint(3, 7));
    }

    void otherButtonsAreNotReported() {
        CountingMonitor counter;
        for (int button : {2, 3, 4, 5})
            QVERIFY(clickButtonAt(m_stripes->centreOf(0), button));
        QVERIFY(counter.settled(0));
        QVERIFY(clickButtonAt(m_stripes->centreOf(0), 1));
        QVERIFY(counter.waitForCalls(1));
    }

    // With the buttons swapped for the left hand, the physical right button is the left one.
    void theLeftButtonFollowsThePointerMapping() {
        CountingMonitor counter;
        QCOMPARE(runTool("xmodmap", {"-e", "pointer = 3 2 1"}).exitCode, 0);
        QTest::qWait(100);
        const bool clicked =
            clickButtonAt(m_stripes->centreOf(0), 3, 2) && clickButtonAt(m_stripes->centreOf(0), 1);
        QTest::qWait(kSettleMs);
        const int calls = counter.calls;
        QCOMPARE(runTool("xmodmap", {"-e", "pointer = default"}).exitCode, 0);
        QVERIFY(clicked);
        QCOMPARE(calls, 2);
    }

    void clicksOnOurOwnWidgetAreNotReported() {
        CountingMonitor counter;
        PressTarget target;
        target.setGeometry(600, 300, 200, 120);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        QTest::qWait(kSettleMs); // past the settling time after a window is shown
        QVERIFY(clickButtonAt(QPoint(700, 360), 1, 3));
        QVERIFY(waitFor([&] { return target.presses == 3; }, 3000));
        QVERIFY(counter.settled(0));
        // Just outside it the press goes to the desktop, and counts once it was held.
        QVERIFY(clickButtonAt(QPoint(700, 300 + 120 + 5), 1));
        QVERIFY(counter.waitForCalls(1));
        QCOMPARE(target.presses, 3);
    }

    void pressesThatOpenOrCloseOurMenuAreNotReported() {
        CountingMonitor counter;
        QMenu menu;
        int triggered = 0;
        menu.addAction(QStringLiteral("First"), [&] { ++triggered; });
        menu.addAction(QStringLiteral("Second"));
        menu.popup(QPoint(700, 200));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QTest::qWait(kSettleMs);
        // A press on another client's window while the menu is open closes the menu and
        // goes nowhere else.
        QVERIFY(clickButtonAt(m_stripes->centreOf(0), 1));
        QVERIFY(waitFor([&] { return !menu.isVisible(); }, 3000));
        QVERIFY(counter.settled(0));
        // A click on an item of the menu.
        menu.popup(QPoint(700, 200));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QTest::qWait(kSettleMs);
        const QRect item = menu.actionGeometry(menu.actions().first());
        QVERIFY(clickButtonAt(menu.mapToGlobal(item.center()), 1));
        QVERIFY(waitFor([&] { return triggered == 1; }, 3000));
        QVERIFY(counter.settled(0));
        // The menu gone, the same place counts again.
        QTest::qWait(kSettleMs);
        QVERIFY(clickButtonAt(m_stripes->centreOf(0), 1));
        QVERIFY(counter.waitForCalls(1));
    }

    void clicksOnOurTrayIconAreNotReported() {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "the test desktop runs a tray");
        CountingMonitor counter;
        QPixmap pixmap(22, 22);
        pixmap.fill(Qt::magenta);
        QSystemTrayIcon tray{QIcon(pixmap)};
        int activations = 0;
        connect(&tray, &QSystemTrayIcon::activated, this, [&] { ++activations; });
        tray.show();
        QVERIFY(waitFor([&] { return tray.geometry().isValid(); }, 5000));
        QTest::qWait(500);
        const QRect icon = tray.geometry();
        QVERIFY(clickButtonAt(icon.center(), 1));
        QVERIFY2(waitFor([&] { return activations == 1; }, 3000),
                 qPrintable(QDebug::toString(icon)));
        QVERIFY(counter.settled(0));
        QVERIFY(clickButtonAt(m_stripes->centreOf(1), 1));
        QVERIFY(counter.waitForCalls(1));
    }

    void noCallAfterRemoval() {
        int calls = 0;
        EventMonitor* monitor = EventMonitor::addGlobalMonitorForLeftMouseDown([&] { ++calls; });
        QVERIFY(clickButtonAt(m_stripes->centreOf(0), 1));
        QVERIFY(waitFor([&] { return calls == 1; }, 3000));
        // Removed while a press is on its way (the event loop blocked meanwhile): it is not
        // reported either.
        QCOMPARE(runTool("xdotool", {"click", "1"}).exitCode, 0);
        EventMonitor::removeMonitor(monitor);
        QVERIFY(clickButtonAt(m_stripes->centreOf(1), 1, 3));
        QTest::qWait(kSettleMs);
        QCOMPARE(calls, 1);
        // Removing again, or nothing, is harmless.
        EventMonitor::removeMonitor(monitor);
        EventMonitor::removeMonitor(nullptr);
    }

    // The handler may end the monitor itself, as the run does at its last click.
    void theHandlerMayRemoveItsMonitor() {
        int calls = 0;
        EventMonitor* monitor = nullptr;
        monitor = EventMonitor::addGlobalMonitorForLeftMouseDown([&] {
            ++calls;
            EventMonitor::removeMonitor(monitor);
        });
        QVERIFY(clickButtonAt(m_stripes->centreOf(0), 1, 4));
        QVERIFY(waitFor([&] { return calls >= 1; }, 3000));
        QTest::qWait(kSettleMs);
        QCOMPARE(calls, 1);
        EventMonitor::removeMonitor(monitor);
    }

    void twoMonitorsEachSeeEveryClick() {
        CountingMonitor first;
        CountingMonitor second;
        QVERIFY(clickButtonAt(m_stripes->centreOf(1), 1, 2));
        QVERIFY(first.waitForCalls(2));
        QCOMPARE(second.calls, 2);
    }

private:
    std::unique_ptr<ColourStripes> m_stripes;
};

QTEST_MAIN(TestEventMonitor)
#include "tst_EventMonitor.moc"
