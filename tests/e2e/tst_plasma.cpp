// SPDX-License-Identifier: GPL-3.0-or-later
// Tracking runs on KDE Plasma under Wayland, where zwirl's KWin effects report the presses: the
// installed application in tests/kde-session.sh, presses made through KWin's fake input.
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

bool effectLoaded(const QString& effect) {
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall("org.kde.KWin", "/Effects", "org.kde.kwin.Effects",
                                       "isEffectLoaded")
        << effect);
    return reply.arguments().value(0).toBool();
}

bool effectsLoaded(bool loaded) {
    return waitFor([&] {
        return effectLoaded("zwirl_presses") == loaded && effectLoaded("zwirl_relay") == loaded;
    });
}

// Whether this KWin gives screenshots at all: only when it draws with OpenGL.
bool kwinReadsPixels() {
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall("org.kde.KWin", "/org/kde/KWin/ScreenShot2",
                                       "org.freedesktop.DBus.Introspectable", "Introspect"));
    return reply.arguments().value(0).toString().contains("CaptureArea");
}

// The left button through KWin's fake input (tests/e2e/kwin_pointer), as a user presses it.
class KWinPointer {
public:
    KWinPointer() {
        m_process.start(QCoreApplication::applicationDirPath() + "/kwin_pointer");
        m_process.waitForStarted();
    }
    ~KWinPointer() {
        m_process.closeWriteChannel();
        m_process.waitForFinished();
    }
    bool click(QPoint point) {
        return send(QString("move %1 %2").arg(point.x()).arg(point.y())) && send("press") &&
               send("release");
    }

private:
    bool send(const QString& command) {
        m_process.write(command.toUtf8() + '\n');
        return waitFor([&] { return m_process.canReadLine(); }, 5000) &&
               m_process.readLine().trimmed() == "ok";
    }
    QProcess m_process;
};

} // namespace

class TestPlasma : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        requireEndToEnd();
        QVERIFY2(qEnvironmentVariableIsSet("ZWIRL_KDE_SESSION"), "run in tests/kde-session.sh");
    }

    void aRunRecordsPressesInOtherWindowsInOrderButNotOnItsOwn() {
        KWinPointer pointer;
        QVERIFY(pointer.click({640, 400}));
        Halves halves("#2040fe", "#fe8001");
        QVERIFY(halves.becomes("in"));
        Session s;
        QVERIFY(s.start({"QT_QPA_PLATFORM=wayland"}));
        QVERIFY(halves.becomes("out"));
        QVERIFY(startRun());
        QVERIFY(halves.becomes("in"));
        action("toggle-window");
        QVERIFY(halves.becomes("out"));
        QVERIFY(pointer.click({640, 400})); // our window
        QVERIFY(pointer.click({100, 400}));
        QVERIFY(pointer.click({1180, 400}));
        QVERIFY(pointer.click({1180, 700}));
        QVERIFY(waitFor([] { return sampleCount() >= 3; }));
        QVERIFY(s.app.stop(SIGTERM));
        const QVariantList stored = s.home.storedSamples();
        QCOMPARE(stored.size(), 3);
        if (kwinReadsPixels()) {
            QVERIFY(sameColour(stored[0], 0x20, 0x40, 0xfe));
            QVERIFY(sameColour(stored[1], 0xfe, 0x80, 0x01));
            QVERIFY(sameColour(stored[2], 0xfe, 0x80, 0x01));
        } else {
            // A KWin that draws without OpenGL gives no pixels: the clicks count, as black.
            for (const QVariant& sample : stored)
                QVERIFY(sameColour(sample, 0, 0, 0));
            QCOMPARE(s.notifications.bodies().filter("recorded as black").size(), 1);
        }
    }

    void onlyKWinReportsPresses() {
        Session s;
        QVERIFY(s.start({"QT_QPA_PLATFORM=offscreen"}));
        QVERIFY(startRun());
        QDBusMessage report =
            QDBusMessage::createMethodCall("de.tolvarek.zwirl", "/de/tolvarek/zwirl/Presses",
                                           "de.tolvarek.zwirl.Presses", "Pressed");
        report << 10.0 << 10.0 << false;
        QCOMPARE(QDBusConnection::sessionBus().call(report).errorName(),
                 "org.freedesktop.DBus.Error.AccessDenied");
        QCOMPARE(sampleCount(), 0u);
    }

    // A Wayland desktop that zwirl cannot ask, without XWayland (this session has no DISPLAY):
    // zwirl comes up with Wayland windows, and a run says that it sees no clicks.
    void aWaylandDesktopWithoutXWaylandStartsAndSaysItSeesNoClicks() {
        Session s;
        QVERIFY(s.start({"XDG_CURRENT_DESKTOP=sway"}));
        QVERIFY(startRun());
        QVERIFY(s.notifications.waitForBody(
            "zwirl cannot see your clicks in this session, so this run records none."));
    }

    void theEffectsRunOnlyWhileARunIsOpen() {
        Session s;
        QVERIFY(s.start({"QT_QPA_PLATFORM=offscreen"}));
        QVERIFY(effectsLoaded(false));
        QVERIFY(startRun());
        QVERIFY(effectsLoaded(true));
        action("stop");
        QVERIFY(effectsLoaded(false));
        // A zwirl killed during a run: its effects go at the next launch at the latest.
        QVERIFY(startRun());
        QVERIFY(effectsLoaded(true));
        QVERIFY(s.app.stop(SIGKILL));
        QVERIFY(s.start({"QT_QPA_PLATFORM=offscreen"}));
        QVERIFY(effectsLoaded(false));
    }
};

QTEST_GUILESS_MAIN(TestPlasma)
#include "tst_plasma.moc"
