// SPDX-License-Identifier: GPL-3.0-or-later
// Tracking runs of the installed application in the test desktop: which clicks a run records
// and how the click limit ends a run.
#include "sound/AudioTestTools.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <QJsonArray>

#include <csignal>

using namespace testsupport;

class TestTracking : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { requireEndToEnd(); }

    void clicksOnTheApplicationsOwnWindowAreNotRecorded() {
        ColourStripes stripes({"#00ff00"}, {20, 20}, 60, 100);
        QVERIFY(stripes.isShown());
        Session s;
        QVERIFY(s.start());
        QVERIFY(waitFor([] { return bool(mainWindow()); }));

        // The start fades the window out; opened again during the run, it is clicked on.
        QVERIFY(startRun());
        QVERIFY(waitFor([] { return !mainWindow(); }));
        action("toggle-window");
        std::optional<XWindow> window;
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }));
        QVERIFY(!window->rect.contains(stripes.centreOf(0)));
        QVERIFY(clickAt(window->rect.topLeft() + QPoint(12, 12), 3));

        // The click on another window comes after those on ours and is the only one recorded:
        // had ours been recorded, the run kept at quit would begin with the window's colour.
        QVERIFY(stripes.click(0));
        QVERIFY(waitFor([] { return sampleCount() >= 1; }));
        QVERIFY(isTracking());
        QVERIFY(s.app.stop(SIGTERM));
        const QVariantList stored = s.home.storedSamples();
        QCOMPARE(stored.size(), 1);
        const QVariantList green = stored.first().toList();
        QCOMPARE(green.size(), 3);
        QCOMPARE(green[0].toDouble() + green[2].toDouble(), 0.0);
        QCOMPARE(green[1].toDouble(), 1.0);
    }

    void theClickLimitEndsTheRunSavesItAndSaysSo() {
        ColourStripes stripes({"#ff0000"}, {20, 20}, 60, 100);
        QVERIFY(stripes.isShown());
        Session s;
        QVERIFY(s.start());
        BusMonitor announced({"--match", "type='signal',path='/de/tolvarek/zwirl',member='"
                                         "PropertiesChanged'"});
        QVERIFY(startRun());
        QCOMPARE(controlProperty("IsTracking"), QVariant(true));
        QVERIFY(waitFor([] { return !mainWindow(); }));

        // A few clicks more than the limit: the run ends at the limit and records no more.
        const QPoint red = stripes.centreOf(0);
        QCOMPARE(runTool("xdotool",
                         {"mousemove", QString::number(red.x()), QString::number(red.y()), "click",
                          "--repeat", QString::number(9999 + 6), "--delay", "1", "1"},
                         300000)
                     .exitCode,
                 0);
        QVERIFY(waitFor([] { return !isTracking(); }, 60000));
        QCOMPARE(sampleCount(), 0u);

        // The alert comes up while the run is saved, with a notification and the folder opened.
        QVERIFY(waitFor([] {
            const QList<XWindow> windows = appWindows();
            return std::any_of(windows.cbegin(), windows.cend(),
                               [](const XWindow& w) { return w.topLevel && w.name == "zwirl"; });
        }));
        QVERIFY(s.notifications.waitForBody("Saved your clicks to the desktop...", 120000));
        QVERIFY(waitUntilSaved());
        QVERIFY(waitFor([&] { return !s.opener.opened().isEmpty(); }));
        QCOMPARE(QUrl(s.opener.opened().first()).toLocalFile(), s.home.outputFolder());

        const QStringList audio = filesIn(s.home.outputFolder(), "*.m4a");
        QCOMPARE(audio.size(), 1);
        // Exactly the limit's clicks, counted in frames in single precision as the renderer does.
        QCOMPARE(audiotest::audioStream(s.home.outputFolder() + u'/' + audio.first())
                     .value("duration_ts")
                     .toInt(),
                 qint64(9999.0f * 2205.0f));
        QCOMPARE(controlProperty("SampleCount"), QVariant(0u));
        QCOMPARE(controlProperty("ExportProgress"), QVariant(0.0));

        // The properties' changes were announced: the run's beginning and end at once, the
        // count in between at most every 100 ms and rising, the export's progress as it rose.
        // The bus stamps a signal when it passes it on, late at times on a busy machine: the
        // throttled announcements are held against the time they span, not gap by gap.
        QList<uint> counts;
        QList<double> progress;
        QList<qint64> countTimes, progressTimes;
        for (const QJsonObject& signal : announced.messages()) {
            const QJsonObject changed = signal["payload"]["data"][1].toObject();
            if (changed.contains("IsTracking") || changed.contains("IsExporting"))
                continue;
            if (changed.contains("SampleCount")) {
                counts << changed["SampleCount"]["data"].toInteger();
                countTimes << signal["timestamp-realtime"].toInteger();
            }
            if (changed.contains("ExportProgress")) {
                progress << changed["ExportProgress"]["data"].toDouble();
                progressTimes << signal["timestamp-realtime"].toInteger();
            }
        }
        QVERIFY2(counts.size() > 5, qPrintable(QString::number(counts.size())));
        QVERIFY(std::is_sorted(counts.cbegin(), counts.cend()) && counts.last() < 9999);
        QVERIFY(!progress.isEmpty() && std::is_sorted(progress.cbegin(), progress.cend()));
        QVERIFY(progress.first() > 0.0 && progress.last() <= 1.0);
        for (const QList<qint64>& times : {countTimes, progressTimes}) {
            const qint64 spanMs = (times.last() - times.first()) / 1000;
            QVERIFY2(times.size() <= spanMs / 100 + 2,
                     qPrintable(QString("%1 in %2 ms").arg(times.size()).arg(spanMs)));
        }
    }
};

QTEST_GUILESS_MAIN(TestTracking)
#include "tst_tracking.moc"
