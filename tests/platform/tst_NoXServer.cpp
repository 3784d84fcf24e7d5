// The click monitor and the pixel reader when no X server can be reached (a Wayland session
// without XWayland, a broken DISPLAY): they warn and do nothing, and nothing crashes.

#include "platform/DisplayCapture.h"
#include "platform/EventMonitor.h"

#include <QtTest>

class TestNoXServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void monitorIsHarmless() {
        int calls = 0;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot connect to the X server"));
        EventMonitor* monitor = EventMonitor::addGlobalMonitorForLeftMouseDown([&] { ++calls; });
        QVERIFY(monitor);
        QTest::qWait(50);
        EventMonitor::removeMonitor(monitor);
        EventMonitor::removeMonitor(monitor);
        QCOMPARE(calls, 0);
    }

    void nothingToRead() {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot connect to the X server"));
        QCOMPARE(EventMonitor::mouseLocation(), QPoint());
        QVERIFY(DisplayCapture::displays().isEmpty());
        QVERIFY(!DisplayCapture::displayContainingPoint({0, 0}));
        QVERIFY(!DisplayCapture::pixelColorAt({0, 0}));
    }
};

int main(int argc, char** argv) {
    // A display that no server serves.
    qputenv("DISPLAY", ":4711");
    QCoreApplication app(argc, argv);
    TestNoXServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_NoXServer.moc"
