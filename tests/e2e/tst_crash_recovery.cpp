// SPDX-License-Identifier: GPL-3.0-or-later
// Runs outlive a process that does not end in order: the installed application killed during a
// run or an export, journals it cannot read, a run kept twice, a huge stored run.
#include "sound/AudioTestTools.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kSaved = "Saved your clicks to the desktop...";

// Waits until the launch has saved every kept run; the audio files it wrote.
QStringList savedAudio(Session& s) {
    if (!s.notifications.waitForBody(kSaved, 60000) || !waitUntilSaved())
        return {};
    return filesIn(s.home.outputFolder(), "*.m4a");
}

} // namespace

class TestCrashRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { requireEndToEnd(); }

    void aKilledRunIsSavedAtTheNextLaunch() {
        const QStringList colours{"#ff0000", "#ffffff", "#00ffff", "#808080"};
        ColourStripes stripes(colours);
        QVERIFY(stripes.isShown());
        Session s;
        QVERIFY(s.start());
        QVERIFY(startRun());
        // 240 clicks in blocks of ten, the stripes in turn.
        QList<int> clicked;
        for (int block = 0; block < 24; ++block) {
            QVERIFY(clickAt(stripes.centreOf(block % 4), 10));
            clicked << QList<int>(10, block % 4);
        }
        QVERIFY(waitFor([&] { return sampleCount() == uint(clicked.size()); }));
        // Every click in the journal, the last written over a second ago.
        const QString journal =
            s.home.journalFolder() + u'/' + filesIn(s.home.journalFolder()).value(0);
        QVERIFY(waitFor([&] {
            const QFileInfo file(journal);
            return file.size() == 32 * (clicked.size() + 1) &&
                   file.lastModified().msecsTo(QDateTime::currentDateTime()) > 1000;
        }));
        QVERIFY(s.app.stop(SIGKILL));

        QVERIFY(s.start());
        QVERIFY(s.notifications.waitForBody("Saving zwirl from last session..."));
        const QStringList audio = savedAudio(s);
        QCOMPARE(audio.size(), 1);
        QVERIFY(filesIn(s.home.journalFolder()).isEmpty());
        QVERIFY(!s.home.hasAnyQuitKey());
        // Exactly those clicks, in order: each 50 ms at its colour's pitch.
        const std::vector<int16_t> pcm =
            audiotest::decodeWithFfmpeg(s.home.outputFolder() + u'/' + audio.first());
        QVERIFY(s.app.output().contains(QString("%1 zwirl)").arg(clicked.size()).toUtf8()));
        QList<double> sums;
        for (int stripe : clicked) {
            const QColor c(colours[stripe]);
            sums << c.redF() + c.greenF() + c.blueF();
        }
        const QString mismatch = clickPitchMismatch(pcm, sums);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    void unreadableJournalsAreSetAsideAndToldOnce() {
        Session s;
        const QDateTime start(QDate(2026, 5, 6), QTime(7, 8, 9));
        // Five whole records and the start of a sixth.
        QFile torn(s.home.writeJournal("a.journal", samplePattern(6), start));
        QVERIFY(torn.resize(torn.size() - 13));
        QFile badHeader(s.home.writeJournal("b.journal", samplePattern(3), start.addSecs(60)));
        QVERIFY(badHeader.open(QIODevice::ReadWrite) && badHeader.seek(20) &&
                badHeader.putChar('x'));
        badHeader.close();
        s.home.writeJournal("c.journal", samplePattern(3), start.addSecs(120), 2);
        s.home.writeJournal("d.journal", samplePattern(3), start.addSecs(180), 1, 40);

        QVERIFY(s.start());
        QCOMPARE(savedAudio(s).size(), 1);
        QVERIFY(s.app.output().contains("5 zwirl)"));
        QCOMPARE(
            filesIn(s.home.journalFolder()),
            (QStringList{"b.journal.unreadable", "c.journal.unreadable", "d.journal.unreadable"}));
        QCOMPARE(s.notifications.bodies().filter("set them aside").size(), 1);
        QVERIFY(s.app.isRunning());

        // Set aside, they are not read again.
        QVERIFY(s.app.stop(SIGTERM));
        QVERIFY(s.start());
        QVERIFY(waitFor([] { return bool(mainWindow()); }));
        QCOMPARE(s.notifications.bodies().filter("set them aside").size(), 1);
    }

    void aKillDuringAnExportLeavesNoPartialFile() {
        Session s;
        s.home.writeJournal("run.journal", samplePattern(9999),
                            QDateTime(QDate(2026, 3, 4), QTime(5, 6)));
        QVERIFY(s.start());
        // Killed while the audio is being written.
        QVERIFY(waitFor(
            [&] {
                return !QDir(s.home.outputFolder())
                            .entryList({".*.part"}, QDir::Files | QDir::Hidden)
                            .isEmpty();
            },
            60000));
        QVERIFY(s.app.stop(SIGKILL));
        QVERIFY(filesIn(s.home.outputFolder(), "*.m4a").isEmpty());
        QVERIFY(filesIn(s.home.outputFolder(), "*.png").isEmpty());

        QVERIFY(s.start());
        QCOMPARE(savedAudio(s).size(), 1);
        const QStringList pictures = filesIn(s.home.outputFolder(), "*.png");
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(QImage(s.home.outputFolder() + u'/' + pictures.first()).size(), QSize(512, 612));
        QVERIFY(QDir(s.home.outputFolder())
                    .entryList({".*.part"}, QDir::Files | QDir::Hidden)
                    .isEmpty());
        QVERIFY(filesIn(s.home.journalFolder()).isEmpty());
        QVERIFY(!s.home.hasAnyQuitKey());
    }

    // A quit stored the run, and the process ended before its journal was removed.
    void aRunInTheQuitKeysAndAJournalIsSavedOnce() {
        Session s;
        const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
        s.home.storeRun(samplePattern(4), start, start.addSecs(30));
        s.home.writeJournal("run.journal", samplePattern(4), start);
        QVERIFY(s.start());
        QCOMPARE(savedAudio(s).size(), 1);
        QCOMPARE(filesIn(s.home.outputFolder(), "*.png").size(), 1);
        QVERIFY(filesIn(s.home.journalFolder()).isEmpty());
        QVERIFY(!s.home.hasAnyQuitKey());
    }

    // Where nothing can be written, the user is told once, and the run is not lost.
    void unwritableFoldersAreToldAndTheRunKept() {
        Session s;
        const QStringList blocked{s.home.outputFolder(), s.home.path() + "/.config/zwirl"};
        for (const QString& path : blocked)
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QVERIFY(s.start());
        QVERIFY(startRun());
        QVERIFY(clickAt({400, 500}));
        QVERIFY(waitFor([] { return sampleCount() == 1; }));
        action("stop");
        QVERIFY(s.notifications.waitForBody("Could not save your clicks to the desktop...", 60000));
        QVERIFY(waitUntilSaved());
        // Told from the export's thread once the run is kept: its message may come after.
        const auto toldSettings = [&] {
            return s.notifications.bodies().filter("could not write its settings file").size();
        };
        QVERIFY(waitFor([&] { return toldSettings() > 0; }));
        QCOMPARE(toldSettings(), 1);
        QCOMPARE(filesIn(s.home.journalFolder()).size(), 1);
        QVERIFY(s.app.stop(SIGTERM));

        for (const QString& path : blocked)
            QVERIFY(QFile::remove(path));
        QVERIFY(s.start());
        QCOMPARE(savedAudio(s).size(), 1);
        QVERIFY(QDir().rmdir(s.home.journalFolder())); // empty: the run left it
        QVERIFY(QFile(s.home.journalFolder()).open(QIODevice::WriteOnly));
        const QString started = "Started tracking mouse clicks...";
        const qsizetype runs = s.notifications.bodies().count(started);
        QVERIFY(startRun());
        QVERIFY(clickAt({400, 500}, 2));
        QVERIFY(waitFor([] { return sampleCount() == 2; }));
        action("stop");
        // Notifications come in order: all of the run's are in once the next run's start is
        // (which can keep its journal again).
        QVERIFY(QFile::remove(s.home.journalFolder()));
        QVERIFY(startRun());
        QVERIFY(waitFor([&] { return s.notifications.bodies().count(started) == runs + 2; }));
        QCOMPARE(s.notifications.bodies().filter("cannot keep this run safe").size(), 1);
    }

    // Far more clicks than a file takes: saved file by file in order; a quit keeps the rest.
    void aMillionStoredClicksAreSavedAsSeveralFiles() {
        Session s;
        const QDateTime end(QDate(2026, 8, 9), QTime(10, 11, 12));
        s.home.storeRun(samplePattern(1000000), end.addSecs(-3600), end);
        // The settings file, with the million clicks in it, takes seconds to read and rewrite.
        QVERIFY(s.start({}, 90000));
        const QString base = s.home.outputFolder() + "/zwirl_090826_101112";
        QVERIFY(waitFor([&] { return QFileInfo::exists(base + "_2.png"); }, 120000));
        QVERIFY(s.app.stop(SIGTERM, 120000));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(audiotest::audioStream(base + ".m4a").value("duration_ts").toInt(),
                 qint64(9999.0f * 2205.0f));
        const qsizetype saved = filesIn(s.home.outputFolder(), "*.m4a").size();
        QCOMPARE(filesIn(s.home.outputFolder(), "*.png").size(), saved);
        // The rest waits in journals of a file each.
        qsizetype kept = 0;
        for (const QString& name : filesIn(s.home.journalFolder(), "*.journal"))
            kept += (QFileInfo(s.home.journalFolder() + u'/' + name).size() - 32) / 32;
        QVERIFY(!s.home.hasAnyQuitKey());
        QCOMPARE(kept, 1000000 - saved * 9999);

        // The next launch starts as cleanly, and goes on with the rest.
        QVERIFY(s.start());
        QVERIFY(waitFor(isExporting, 30000));
        QVERIFY(s.app.stop(SIGTERM, 120000));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
    }
};

QTEST_GUILESS_MAIN(TestCrashRecovery)
#include "tst_crash_recovery.moc"
