// Tracking runs of the installed application in the test desktop: which clicks a run records
// and how the click limit ends a run.
#include "support/TestSupport.h"

#include <QDir>
#include <QRect>
#include <QUrl>
#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kSaved = QStringLiteral("Saved your clicks to the desktop...");
constexpr int kClickLimit = 9999;

// Where a mapped window is on the screen, from xdotool.
QRect geometryOf(const QString& window) {
    const ToolResult shell =
        runTool(QStringLiteral("xdotool"),
                {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    QMap<QString, int> values;
    for (const QString& line : QString::fromUtf8(shell.out).split(u'\n', Qt::SkipEmptyParts))
        values.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
    return {values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
            values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT"))};
}

bool mainWindowShown() {
    return visibleWindowsNamed(QStringLiteral("zwirl")).size() == 1;
}

} // namespace

class TestTracking : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        QVERIFY2(QFileInfo(installedBinary()).isExecutable(), qPrintable(installedBinary()));
    }

    void clicksOnTheApplicationsOwnWindowAreNotRecorded() {
        ColourStripes stripes({QStringLiteral("#00ff00")}, {20, 20}, 60, 100);
        QVERIFY(stripes.isShown());
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        QVERIFY(waitFor(mainWindowShown, 10000));

        // The start fades the window out; opened again during the run, it is clicked on.
        AppInstance::action(QStringLiteral("start"));
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
        QVERIFY(waitFor([] { return !mainWindowShown(); }, 5000));
        AppInstance::action(QStringLiteral("toggle-window"));
        QVERIFY(waitFor(mainWindowShown, 5000));
        const QRect window = geometryOf(visibleWindowsNamed(QStringLiteral("zwirl")).first());
        QVERIFY(window.width() > 100 && window.height() > 100);
        QVERIFY(!window.contains(stripes.centreOf(0)));
        QVERIFY(clickAt(window.topLeft() + QPoint(12, 12), 3));

        // The click on another window comes after those on ours and is the only one recorded:
        // had ours been recorded, the run kept at quit would begin with the window's colour.
        QVERIFY(clickAt(stripes.centreOf(0)));
        QVERIFY(waitFor([] { return AppInstance::sampleCount() >= 1; }, 5000));
        QVERIFY(AppInstance::isTracking());
        QVERIFY(app.stop(SIGTERM));
        const QVariantList stored = home.storedSamples();
        QCOMPARE(stored.size(), 1);
        const QVariantList green = stored.first().toList();
        QCOMPARE(green.size(), 3);
        QCOMPARE(green[0].toDouble() + green[2].toDouble(), 0.0);
        QCOMPARE(green[1].toDouble(), 1.0);
    }

    void theClickLimitEndsTheRunSavesItAndSaysSo() {
        ColourStripes stripes({QStringLiteral("#ff0000")}, {20, 20}, 60, 100);
        QVERIFY(stripes.isShown());
        TempHome home;
        OpenRecorder opener;
        NotificationMonitor notifications;
        AppInstance app(home);
        QVERIFY(app.start(15000, {opener.pathEntry()}));
        AppInstance::action(QStringLiteral("start"));
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
        QVERIFY(waitFor([] { return !mainWindowShown(); }, 5000));

        // A few clicks more than the limit: the run ends at the limit and records no more.
        const QPoint red = stripes.centreOf(0);
        const ToolResult clicks = runTool(
            QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(red.x()), QString::number(red.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(kClickLimit + 6),
             QStringLiteral("--delay"), QStringLiteral("1"), QStringLiteral("1")},
            300000);
        QCOMPARE(clicks.exitCode, 0);
        QVERIFY(waitFor([] { return !AppInstance::isTracking(); }, 60000));
        QCOMPARE(AppInstance::sampleCount(), 0u);

        // The alert comes up while the run is saved, with a notification and the folder opened.
        QVERIFY(
            waitFor([] { return !visibleWindowsNamed(QStringLiteral("zwirl")).isEmpty(); }, 10000));
        QVERIFY(notifications.waitForBody(kSaved, 120000));
        QVERIFY(AppInstance::waitUntilSaved());
        QVERIFY(waitFor([&] { return !opener.opened().isEmpty(); }, 5000));
        QCOMPARE(QUrl(opener.opened().first()).toLocalFile(), home.outputFolder());

        const QStringList audio = filesIn(home.outputFolder(), QStringLiteral("*.m4a"));
        QCOMPARE(audio.size(), 1);
        const QJsonObject probed = probe(home.outputFolder() + u'/' + audio.first());
        const QJsonObject sound = audioStreamOf(probed);
        // Exactly the limit's clicks, counted in frames in single precision as the renderer does.
        QCOMPARE(sound.value(QStringLiteral("duration_ts")).toInt(),
                 qint64(float(kClickLimit) * 2205.0f));
        QVERIFY(app.stop(SIGTERM));
    }
};

QTEST_GUILESS_MAIN(TestTracking)
#include "tst_tracking.moc"
