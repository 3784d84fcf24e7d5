// SPDX-License-Identifier: GPL-3.0-or-later
// The KWin click source against a stand-in KWin on the test bus, which answers as KWin does: it
// owns org.kde.KWin, loads and unloads effects, reports presses from its own connection and
// writes 1 × 1 screenshots into the pipe it is given; a report from any other connection is
// refused.
#include "capture/kde/KdeClickSource.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QSignalSpy>
#include <QtTest>

#include <unistd.h>

using namespace zwirl;

namespace {

// KWin's screenshot interface over an image of the screen; refuses while `allowed` is false.
class ScreenShot2 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.KWin.ScreenShot2")
public:
    QImage screen{1280, 800, QImage::Format_RGB32};
    bool allowed = true;

public Q_SLOTS:
    Q_SCRIPTABLE QVariantMap CaptureArea(int x, int y, uint width, uint height, const QVariantMap&,
                                         const QDBusUnixFileDescriptor& pipe,
                                         const QDBusMessage& message) {
        if (!allowed) {
            message.setDelayedReply(true);
            QDBusConnection("kwin").send(message.createErrorReply(
                "org.kde.KWin.ScreenShot2.Error.NoAuthorized", "The process is not authorized"));
            return {};
        }
        const QImage pixel = screen.copy(x, y, int(width), int(height));
        if (::write(pipe.fileDescriptor(), pixel.constBits(), pixel.sizeInBytes()) < 0)
            return {};
        return {{"type", "raw"},
                {"width", width},
                {"height", height},
                {"stride", uint(pixel.bytesPerLine())},
                {"format", uint(pixel.format())}};
    }
};

// Serves on a thread of its own, as zwirl waits for KWin's answers.
class StandInKWin : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Effects")
public:
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kwin");
    ScreenShot2 screenshot;
    // Held, the answers to loads wait for release(); `loads` is what they say.
    std::atomic<bool> hold = false, loads = true;

    StandInKWin() {
        screenshot.screen.fill(Qt::black);
        moveToThread(&m_thread);
        screenshot.moveToThread(&m_thread);
        m_thread.start();
        bus.registerObject("/Effects", this, QDBusConnection::ExportScriptableSlots);
        bus.registerObject("/org/kde/KWin/ScreenShot2", &screenshot,
                           QDBusConnection::ExportScriptableSlots);
        bus.registerService("org.kde.KWin");
    }
    ~StandInKWin() override {
        bus.unregisterService("org.kde.KWin");
        m_thread.quit();
        m_thread.wait();
        QDBusConnection::disconnectFromBus("kwin");
    }
    // The effect calls so far, in order.
    QStringList calls() {
        const QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    // A left press as KWin's relay effect reports it.
    void press(QPoint point, bool own = false) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QDBusConnection::sessionBus().baseService(), "/de/tolvarek/zwirl/Presses",
            "de.tolvarek.zwirl.Presses", "Pressed");
        call << double(point.x()) << double(point.y()) << own;
        bus.asyncCall(call);
    }

public Q_SLOTS:
    Q_SCRIPTABLE bool loadEffect(const QString& name, const QDBusMessage& message) {
        const QMutexLocker lock(&m_mutex);
        m_calls << "load " + name;
        if (hold) {
            message.setDelayedReply(true);
            m_held << message;
        }
        return loads;
    }
    void release() {
        QMetaObject::invokeMethod(this, [this] {
            const QMutexLocker lock(&m_mutex);
            for (const QDBusMessage& held : std::exchange(m_held, {}))
                bus.send(held.createReply(bool(loads)));
        });
    }
    Q_SCRIPTABLE void unloadEffect(const QString& name) {
        const QMutexLocker lock(&m_mutex);
        m_calls << "unload " + name;
    }

private:
    QThread m_thread;
    QMutex m_mutex;
    QStringList m_calls;
    QList<QDBusMessage> m_held;
};

} // namespace

class TestKdeClickSource : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pressesInOtherWindowsArriveInOrderWithTheirColours() {
        StandInKWin kwin;
        kwin.screenshot.screen.setPixelColor(10, 20, QColor(0x20, 0x40, 0xfe));
        kwin.screenshot.screen.setPixelColor(700, 30, QColor(0xfe, 0x80, 0x01));
        KdeClickSource source;
        QSignalSpy clicked(&source, &ClickSource::clicked);
        QSignalSpy told(&source, &ClickSource::notice);
        QVERIFY(source.start());
        // Leftovers go first; the relay loads before the presses effect, so that it knows zwirl
        // when the first press comes.
        QTRY_COMPARE(kwin.calls(), (QStringList{"unload zwirl_presses", "unload zwirl_relay",
                                                "load zwirl_relay", "load zwirl_presses"}));
        kwin.press({700, 30});
        kwin.press({5, 5}, true);
        kwin.press({10, 20});
        kwin.press({700, 30});
        QTRY_COMPARE(clicked.size(), 3);
        const QList<QPoint> points{{700, 30}, {10, 20}, {700, 30}};
        const QList<ClickSample> colours{{0xfe / 255.0, 0x80 / 255.0, 0x01 / 255.0},
                                         {0x20 / 255.0, 0x40 / 255.0, 0xfe / 255.0},
                                         {0xfe / 255.0, 0x80 / 255.0, 0x01 / 255.0}};
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(clicked[k][0].toPoint(), points[k]);
            QCOMPARE(clicked[k][1].value<std::optional<ClickSample>>(), colours[k]);
        }
        QVERIFY(told.isEmpty());
        QDBusConnection stranger =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stranger");
        QDBusMessage report = QDBusMessage::createMethodCall(
            QDBusConnection::sessionBus().baseService(), "/de/tolvarek/zwirl/Presses",
            "de.tolvarek.zwirl.Presses", "Pressed");
        report << 10.0 << 20.0 << false;
        QDBusPendingCall refused = stranger.asyncCall(report);
        QTRY_VERIFY(refused.isFinished());
        QCOMPARE(refused.error().type(), QDBusError::AccessDenied);
        const qsizetype before = kwin.calls().size();
        source.stop();
        QTRY_COMPARE(kwin.calls().mid(before),
                     (QStringList{"unload zwirl_presses", "unload zwirl_relay"}));
        kwin.press({10, 20});
        QTest::qWait(200); // nothing to wait for: a press after the stop must stay unreported
        QCOMPARE(clicked.size(), 3);
    }

    // The start does not wait for KWin; a refusal that comes later says why and hands over.
    void aKWinThatAnswersLateOrRefusesHoldsNoStartUp() {
        StandInKWin kwin;
        kwin.hold = true;
        kwin.loads = false;
        KdeClickSource source;
        QSignalSpy failed(&source, &ClickSource::failed);
        QSignalSpy told(&source, &ClickSource::notice);
        QVERIFY(source.start());
        QTRY_COMPARE(kwin.calls().value(2), "load zwirl_relay");
        QVERIFY(failed.isEmpty() && told.isEmpty());
        kwin.release();
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(told.value(0).value(0).toString().contains("OpenGL"));
        QTRY_COMPARE(kwin.calls().mid(3),
                     (QStringList{"unload zwirl_presses", "unload zwirl_relay"}));
    }

    void unreadableColoursAreBlackClicksAndTheUserIsToldOncePerRun() {
        StandInKWin kwin;
        kwin.screenshot.allowed = false;
        KdeClickSource source;
        QSignalSpy clicked(&source, &ClickSource::clicked);
        QSignalSpy told(&source, &ClickSource::notice);
        for (int run = 1; run <= 2; ++run) {
            QVERIFY(source.start());
            kwin.press({10, 20});
            kwin.press({30, 40});
            QTRY_COMPARE(clicked.size(), 2 * run);
            QVERIFY(!clicked.last()[1].value<std::optional<ClickSample>>());
            QCOMPARE(told.size(), run);
            source.stop();
        }
        QVERIFY(told.first().first().toString().contains("recorded as black"));
    }
};

QTEST_GUILESS_MAIN(TestKdeClickSource)
#include "tst_KdeClickSource.moc"
