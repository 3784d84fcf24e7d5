// The installed application in the test desktop: the control interface, one instance per
// session, tracking runs over known colours, what quitting keeps, restoring, the login item.
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QDir>
#include <QSettings>
#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kSamplesKey = TempHome::kSamplesKey;
const QString kStartKey = TempHome::kStartKey;
const QString kEndKey = TempHome::kEndKey;
const QString kStartupKey = QStringLiteral("de.tolvarek.zwirl.startup-key");

QStringList autostartEntriesRunning(const TempHome& home, const QString& binary) {
    QStringList found;
    const QDir dir(home.autostartFolder());
    for (const QString& name : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files)) {
        QSettings entry(dir.filePath(name), QSettings::IniFormat);
        if (entry.value(QStringLiteral("Desktop Entry/Exec")).toString().contains(binary))
            found << dir.filePath(name);
    }
    return found;
}

} // namespace

class TestAppLifecycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        QVERIFY2(QFileInfo(installedBinary()).isExecutable(), qPrintable(installedBinary()));
    }

    void controlInterfaceAnswersAndRefusesWhatItDoesNotKnow() {
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        QCOMPARE(AppInstance::isTracking(), false);
        QCOMPARE(AppInstance::sampleCount(), 0u);
        QCOMPARE(AppInstance::isExporting(), false);

        const QDBusMessage unknown = AppInstance::action(QStringLiteral("no-such-action"));
        QCOMPARE(unknown.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(unknown.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));

        const QDBusMessage open = AppInstance::call(
            QStringLiteral("org.freedesktop.Application"), QStringLiteral("Open"),
            {QStringList{QStringLiteral("file:///tmp/x")}, QVariant::fromValue(QVariantMap())});
        QCOMPARE(open.errorName(), QStringLiteral("org.freedesktop.DBus.Error.NotSupported"));

        // A second launch hands over to the running one and ends at once, successfully.
        const ToolResult second = runTool(installedBinary(), {}, 20000, home.environment());
        QCOMPARE(second.exitCode, 0);
        QVERIFY(app.isRunning());

        QCOMPARE(AppInstance::action(QStringLiteral("quit")).type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return !app.isRunning(); }, 20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
    }

    void runRecordsTheExactColoursUnderThePointer() {
        ColourStripes stripes({QStringLiteral("#ff6766"), QStringLiteral("#ff0000"),
                               QStringLiteral("#ffffff"), QStringLiteral("#000000"),
                               QStringLiteral("#0080ff")});
        QVERIFY(stripes.isShown());
        TempHome home;
        AppInstance app(home);
        NotificationMonitor notifications;
        QVERIFY(app.start());

        QCOMPARE(AppInstance::action(QStringLiteral("start")).type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
        QVERIFY(notifications.waitForBody(QStringLiteral("Started tracking mouse clicks...")));
        for (const auto& [summary, body] : notifications.notifications())
            QCOMPARE(summary, QStringLiteral("zwirl"));

        // A second start during the run changes nothing.
        AppInstance::action(QStringLiteral("start"));
        for (int i = 0; i < 4; ++i)
            QVERIFY(clickAt(stripes.centreOf(i)));
        // A right click is no left mouse-down: recorded, it would stand fifth (black) below.
        runTool(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("3")});
        QVERIFY(clickAt(stripes.centreOf(4)));
        QVERIFY(waitFor([] { return AppInstance::sampleCount() >= 5; }, 5000));

        // Quitting during the run keeps it for the next launch, with its dates.
        QVERIFY(app.stop(SIGTERM));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        const QVariantList stored = home.storedSamples();
        QCOMPARE(stored.size(), 5);
        const QList<QList<double>> expected{{1.0, 103 / 255.0, 102 / 255.0},
                                            {1.0, 0.0, 0.0},
                                            {1.0, 1.0, 1.0},
                                            {0.0, 0.0, 0.0},
                                            {0.0, 128 / 255.0, 1.0}};
        for (int i = 0; i < 5; ++i) {
            const QVariantList sample = stored[i].toList();
            QCOMPARE(sample.size(), 3);
            for (int c = 0; c < 3; ++c)
                QCOMPARE(sample[c].toDouble(), expected[i][c]);
        }
        QSettings settings(home.configFile(), QSettings::IniFormat);
        const QDateTime start = settings.value(kStartKey).toDateTime();
        const QDateTime end = settings.value(kEndKey).toDateTime();
        QVERIFY(start.isValid() && end.isValid());
        QVERIFY(start <= end);
        QVERIFY(start.secsTo(QDateTime::currentDateTime()) < 120);
    }

    void quittingWithoutClicksKeepsNothing() {
        TempHome home;
        {
            AppInstance app(home);
            QVERIFY(app.start());
            QVERIFY(app.stop(SIGTERM)); // idle
        }
        QVERIFY(!home.hasAnyQuitKey());
        for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            AppInstance app(home);
            QVERIFY(app.start());
            AppInstance::action(QStringLiteral("start"));
            QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
            QVERIFY(app.stop(signalNumber));
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QVERIFY(!home.hasAnyQuitKey());
        }
    }

    void relaunchAnnouncesTheStoredRun() {
        TempHome home;
        {
            QSettings settings(home.configFile(), QSettings::IniFormat);
            settings.setValue(kSamplesKey, QVariantList{QVariant(QVariantList{0.5, 0.25, 1.0})});
            settings.setValue(kStartKey, QDateTime::currentDateTime().addSecs(-60));
            settings.setValue(kEndKey, QDateTime::currentDateTime());
        }
        NotificationMonitor notifications;
        AppInstance app(home);
        QVERIFY(app.start());
        QVERIFY(notifications.waitForBody(QStringLiteral("Saving zwirl from last session...")));
        QVERIFY(AppInstance::waitUntilSaved());
        QVERIFY(app.stop(SIGTERM));
    }

    void aLaunchTakesDownTheNotificationsOfAnEarlierProcess() {
        const auto displayed = [] {
            return runTool(QStringLiteral("dunstctl"),
                           {QStringLiteral("count"), QStringLiteral("displayed")})
                .out.trimmed()
                .toInt();
        };
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        TempHome home;
        {
            AppInstance killed(home);
            QVERIFY(killed.start());
            AppInstance::action(QStringLiteral("start"));
            QVERIFY(waitFor([&] { return displayed() >= 1; }, 5000));
            QVERIFY(killed.stop(SIGKILL)); // gone without taking anything down
        }
        QVERIFY(displayed() >= 1);
        AppInstance app(home);
        QVERIFY(app.start());
        QVERIFY(waitFor([&] { return displayed() == 0; }, 5000));
        QVERIFY(app.stop(SIGTERM));
    }

    void corruptStoredSamplesAreDropped() {
        TempHome home;
        {
            QSettings settings(home.configFile(), QSettings::IniFormat);
            settings.setValue(kSamplesKey,
                              QVariantList{QStringLiteral("junk"), QVariant(QVariantList{1.0, 2.0}),
                                           QVariant(QVariantList{QStringLiteral("a"), 0.0, 0.0})});
            settings.setValue(kStartKey, QDateTime::currentDateTime());
            settings.setValue(kEndKey, QDateTime::currentDateTime());
        }
        NotificationMonitor notifications;
        AppInstance app(home);
        QVERIFY(app.start());
        // Nothing valid: the stored run is forgotten, and launch goes on as if none was stored,
        // showing the window at once.
        QVERIFY(
            waitFor([] { return !visibleWindowsNamed(QStringLiteral("zwirl")).isEmpty(); }, 10000));
        QVERIFY(app.isRunning());
        QVERIFY(!home.hasAnyQuitKey());
        for (const auto& [summary, body] : notifications.notifications())
            QVERIFY(body != QStringLiteral("Saving zwirl from last session..."));
        QVERIFY(
            waitFor([&] { return app.output().contains("dropping stored click sample"); }, 5000));
        QVERIFY(app.stop(SIGTERM));
    }

    void loginItemFollowsThePreference() {
        TempHome home;
        // Another application's entry must survive whatever zwirl does.
        QDir().mkpath(home.autostartFolder());
        QFile other(home.autostartFolder() + QStringLiteral("/other.desktop"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n");
        other.close();
        {
            AppInstance app(home);
            QVERIFY(app.start());
            QVERIFY(app.stop(SIGTERM));
        }
        const QStringList entries = autostartEntriesRunning(home, installedBinary());
        QCOMPARE(entries.size(), 1);
        const ToolResult valid =
            runTool(QStringLiteral("desktop-file-validate"), {entries.first()});
        QVERIFY2(valid.exitCode == 0, valid.out + valid.err);
        QSettings settings(home.configFile(), QSettings::IniFormat);
        QCOMPARE(settings.value(kStartupKey).toBool(), true);

        settings.setValue(kStartupKey, false);
        settings.sync();
        {
            AppInstance app(home);
            QVERIFY(app.start());
            QVERIFY(app.stop(SIGTERM));
        }
        QVERIFY(autostartEntriesRunning(home, installedBinary()).isEmpty());
        QVERIFY(QFile::exists(other.fileName()));
    }
};

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_app_lifecycle.moc"
