// SPDX-License-Identifier: GPL-3.0-or-later
// The installed application in the test desktop: the control interface, one instance per
// session, tracking runs over known colours, what quitting keeps, restoring, the login item.
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kStartupKey = "de.tolvarek.zwirl.startup-key";

QStringList autostartEntriesRunningZwirl(const TempHome& home) {
    QStringList found;
    const QDir dir(home.autostartFolder());
    for (const QString& name : dir.entryList({"*.desktop"}, QDir::Files))
        if (QSettings(dir.filePath(name), QSettings::IniFormat)
                .value("Desktop Entry/Exec")
                .toString()
                .contains(installedBinary()))
            found << dir.filePath(name);
    return found;
}

int displayedNotifications() {
    return runTool("dunstctl", {"count", "displayed"}).out.trimmed().toInt();
}

} // namespace

class TestAppLifecycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { requireEndToEnd(); }

    void controlInterfaceAnswersAndRefusesWhatItDoesNotKnow() {
        Session s;
        QVERIFY(s.start());
        QCOMPARE(isTracking(), false);
        QCOMPARE(sampleCount(), 0u);
        QCOMPARE(isExporting(), false);
        QCOMPARE(action("no-such-action").errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
        const QDBusMessage open =
            callApp("org.freedesktop.Application", "Open",
                    {QStringList{"file:///tmp/x"}, QVariant::fromValue(QVariantMap())});
        QCOMPARE(open.errorName(), "org.freedesktop.DBus.Error.NotSupported");

        // A second launch hands over to the running one and ends at once, successfully.
        QCOMPARE(runTool(installedBinary(), {}, 20000, s.home.environment()).exitCode, 0);
        QVERIFY(s.app.isRunning());

        QCOMPARE(action("quit").type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return !s.app.isRunning(); }));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.app.exitCode(), 0);
    }

    void theCommandLineAnswersAtOnceOrDrivesTheRunningInstance() {
        TempHome home;
        QProcessEnvironment headless = home.environment();
        headless.remove("DISPLAY");
        headless.remove("WAYLAND_DISPLAY");
        const auto run = [&](const QStringList& args, const QProcessEnvironment& env) {
            return runTool(installedBinary(), args, 20000, env);
        };
        const auto succeeds = [&](const QStringList& args) {
            const ToolResult result = run(args, home.environment());
            return result.exitCode == 0 ? QByteArray() : result.out + result.err;
        };
        // Help, version and mistakes need no display and touch no file.
        const ToolResult help = run({"--help"}, headless);
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Usage: zwirl [options]") && help.out.contains("--start"),
                 help.out.constData());
        const ToolResult version = run({"--version"}, headless);
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("zwirl " ZWIRL_VERSION "\n"));
        const ToolResult unknown = run({"--no-such-option"}, headless);
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.err.contains("no-such-option"));
        QCOMPARE(run({"--start", "--quit"}, headless).exitCode, 2);
        const ToolResult noDisplay = run({}, headless);
        QCOMPARE(noDisplay.exitCode, 1);
        QCOMPARE(noDisplay.err.count('\n'), 1);
        QVERIFY(!QFileInfo::exists(home.configFile()));
        QVERIFY(!QFileInfo::exists(home.autostartFolder()));

        // With none running, --stop says so, with a display or without; --start launches zwirl
        // and opens a run.
        QCOMPARE(run({"--stop"}, home.environment()).exitCode, 1);
        const ToolResult notRunning = run({"--stop"}, headless);
        QCOMPARE(notRunning.exitCode, 1);
        QCOMPARE(notRunning.err, "zwirl: zwirl is not running\n");
        QProcess app;
        app.setProcessEnvironment(home.environment());
        app.start(installedBinary(), {"--start"});
        QVERIFY(waitFor([] { return isTracking(); }, 15000));
        // Further actions go to the running instance, and their own processes end at once;
        // they need only the session bus, as from ssh or a timer.
        QCOMPARE(run({"--stop"}, headless).exitCode, 0);
        QVERIFY(waitFor([] { return !isTracking(); }, 5000));
        QCOMPARE(run({"--start"}, headless).exitCode, 0);
        QVERIFY(waitFor([] { return isTracking(); }, 5000));
        QCOMPARE(succeeds({"--stop"}), QByteArray());
        QVERIFY(waitFor([] { return !isTracking(); }, 5000));
        QCOMPARE(succeeds({"--start"}), QByteArray());
        QVERIFY(waitFor([] { return isTracking(); }, 5000));
        QCOMPARE(succeeds({"--debug"}), QByteArray());
        QVERIFY(waitFor([] {
            const QList<XWindow> shown = appWindows();
            return std::any_of(shown.begin(), shown.end(),
                               [](const XWindow& w) { return w.name == "zwirl Debug"; });
        }));
        QCOMPARE(succeeds({"--quit"}), QByteArray());
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitCode(), 0);
    }

    void runRecordsTheExactColoursUnderThePointer() {
        ColourStripes stripes({"#ff6766", "#ff0000", "#ffffff", "#000000", "#0080ff"});
        QVERIFY(stripes.isShown());
        Session s;
        QVERIFY(s.start());
        QVERIFY(startRun());
        QVERIFY(s.notifications.waitForBody("Started tracking mouse clicks..."));
        for (const Notification& notification : s.notifications.notifications())
            QCOMPARE(notification.summary, "zwirl");

        // A second start during the run changes nothing.
        action("start");
        for (int i = 0; i < 4; ++i)
            QVERIFY(stripes.click(i));
        // A right click is no left mouse-down: recorded, it would make a sixth sample. It goes to
        // the bare desktop, where no viewer's menu opens over the stripes.
        QCOMPARE(runTool("xdotool", {"mousemove", "5", "795", "click", "3"}).exitCode, 0);
        QVERIFY(stripes.click(4));
        QVERIFY(waitFor([] { return sampleCount() >= 5; }));

        // Quitting during the run keeps it for the next launch, with its dates.
        QVERIFY(s.app.stop(SIGTERM));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        const QVariantList stored = s.home.storedSamples();
        const QList<QList<double>> expected{{1.0, 103 / 255.0, 102 / 255.0},
                                            {1.0, 0.0, 0.0},
                                            {1.0, 1.0, 1.0},
                                            {0.0, 0.0, 0.0},
                                            {0.0, 128 / 255.0, 1.0}};
        QCOMPARE(stored.size(), expected.size());
        QVERIFY(filesIn(s.home.journalFolder()).isEmpty()); // the keys hold the run now
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(stored[i].toList().size(), 3);
            for (int c = 0; c < 3; ++c)
                QCOMPARE(stored[i].toList()[c].toDouble(), expected[i][c]);
        }
        const QDateTime start = s.home.config(TempHome::kStartKey).toDateTime();
        const QDateTime end = s.home.config(TempHome::kEndKey).toDateTime();
        QVERIFY(start.isValid() && end.isValid() && start <= end);
        QVERIFY(start.secsTo(QDateTime::currentDateTime()) < 120);
    }

    void quittingWithoutClicksKeepsNothing() {
        Session s;
        QVERIFY(s.start());
        QVERIFY(s.app.stop(SIGTERM)); // idle
        QVERIFY(!s.home.hasAnyQuitKey());
        for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            QVERIFY(s.start());
            QVERIFY(startRun());
            QVERIFY(s.app.stop(signalNumber));
            QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
            QVERIFY(!s.home.hasAnyQuitKey());
        }
    }

    // A logout: the X server, the session bus and zwirl are told to end at once. zwirl ends
    // without a crash, its open run under the quit keys, whichever goes first.
    void theEndOfTheSessionKeepsTheOpenRun() {
        TempHome kept;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KEPT_CONFIG", kept.configFile());
        const ToolResult run =
            runTool(qEnvironmentVariable("ZWIRL_SOURCE_DIR") + "/tests/desktop.sh",
                    {"--no-tray", "--no-audio", "--", "bash", "-c", R"sh(
"$ZWIRL_INSTALLED_BINARY" >/dev/null 2>&1 & app=$!
on() { for _ in $(seq 400); do busctl --user call de.tolvarek.zwirl /de/tolvarek/zwirl de.tolvarek.zwirl.Control "$1" 2>/dev/null | grep -q "$2" && return; sleep 0.05; done; }
on IsTracking b
busctl --user call de.tolvarek.zwirl /de/tolvarek/zwirl org.freedesktop.Application ActivateAction 'sava{sv}' start 0 0
on IsTracking true
xdotool mousemove 400 400 click --repeat 3 --delay 100 1
on SampleCount 'u 3'
kill -TERM $app $ZWIRL_TEST_X_PID $ZWIRL_TEST_BUS_PID; wait $app; echo "exit: $?"
echo "journals: $(ls "$HOME/.local/state/zwirl" | wc -l)"
mkdir -p "$(dirname "$KEPT_CONFIG")" && cp "$XDG_CONFIG_HOME/zwirl/zwirl.conf" "$KEPT_CONFIG"
)sh"},
                    60000, env);
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(QRegularExpression("exit: [01]\njournals: 0\n").match(out).hasMatch(),
                 qPrintable(out + QString::fromUtf8(run.err)));
        QCOMPARE(kept.storedSamples().size(), 3);
    }

    void aLaunchTakesDownTheNotificationsOfAnEarlierProcess() {
        runTool("dunstctl", {"close-all"});
        Session s;
        QVERIFY(s.start());
        action("start");
        QVERIFY(waitFor([] { return displayedNotifications() >= 1; }));
        QVERIFY(s.app.stop(SIGKILL)); // gone without taking anything down
        QVERIFY(displayedNotifications() >= 1);
        QVERIFY(s.start());
        QVERIFY(waitFor([] { return displayedNotifications() == 0; }));
    }

    void corruptStoredSamplesAreDropped() {
        Session s;
        s.home.setConfig(TempHome::kSamplesKey,
                         QVariantList{"junk", QVariant(QVariantList{1.0, 2.0}),
                                      QVariant(QVariantList{"a", 0.0, 0.0})});
        s.home.setConfig(TempHome::kStartKey, QDateTime::currentDateTime());
        s.home.setConfig(TempHome::kEndKey, QDateTime::currentDateTime());
        QVERIFY(s.start());
        // Nothing valid: the stored run is forgotten, and launch goes on as if none was stored,
        // showing the window at once.
        QVERIFY(waitFor([] { return bool(mainWindow()); }));
        QVERIFY(s.app.isRunning());
        QVERIFY(!s.home.hasAnyQuitKey());
        QVERIFY(!s.notifications.bodies().contains("Saving zwirl from last session..."));
        QVERIFY(waitFor([&] { return s.app.output().contains("dropping stored click sample"); }));
    }

    void loginItemFollowsThePreference() {
        Session s;
        QVERIFY(s.start());
        QVERIFY(s.app.stop(SIGTERM));
        const QStringList entries = autostartEntriesRunningZwirl(s.home);
        QCOMPARE(entries.size(), 1);
        const ToolResult valid = runTool("desktop-file-validate", {entries.first()});
        QVERIFY2(valid.exitCode == 0, valid.out + valid.err);
        QCOMPARE(s.home.config(kStartupKey).toBool(), true);

        s.home.setConfig(kStartupKey, false);
        QVERIFY(s.start());
        QVERIFY(s.app.stop(SIGTERM));
        QVERIFY(autostartEntriesRunningZwirl(s.home).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_app_lifecycle.moc"
