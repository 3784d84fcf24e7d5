// SPDX-License-Identifier: GPL-3.0-or-later
// Ending a run saves it: the files the installed application writes into ~/Desktop/zwirl, what
// it tells the user, and how it keeps a run it could not save.
#include "sound/AudioTestTools.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kSaved = "Saved your clicks to the desktop...";

// The metadata store lives under the data folder, so it is read as the application's user.
bool hasCustomIcon(const QString& path, const TempHome& home) {
    return runTool("gio", {"info", "-a", "metadata::custom-icon", path}, 60000, home.environment())
        .out.contains("metadata::custom-icon: ");
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { requireEndToEnd(); }

    void stopWritesTheRunAndTellsOfIt() {
        const QList<QList<double>> components{{1, 0, 0}, {0, 0, 0}, {1, 1, 1}, {0, 0, 1}};
        const QList<int> clicked{0, 1, 2, 3, 2, 0};
        ColourStripes stripes({"#ff0000", "#000000", "#ffffff", "#0000ff"});
        QVERIFY(stripes.isShown());
        Session s;
        QVERIFY(s.start());
        QVERIFY(startRun());
        for (int stripe : clicked)
            QVERIFY(stripes.click(stripe));
        QVERIFY(waitFor([&] { return sampleCount() == uint(clicked.size()); }));
        action("stop");
        QVERIFY(waitFor([] { return !isTracking(); }));
        QVERIFY(waitUntilSaved());

        const QStringList audio = filesIn(s.home.outputFolder(), "*.m4a");
        const QStringList pictures = filesIn(s.home.outputFolder(), "*.png");
        QCOMPARE(audio.size(), 1);
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(audio.first().section(u'.', 0, 0), pictures.first().section(u'.', 0, 0));
        QVERIFY(QRegularExpression("^zwirl_\\d{6}_\\d{6}\\.m4a$").match(audio.first()).hasMatch());
        const QString audioPath = s.home.outputFolder() + u'/' + audio.first();

        // The audio: AAC, 44100 Hz, mono, exactly 50 ms per click, with its cover art.
        const QJsonObject sound = audiotest::audioStream(audioPath);
        QCOMPARE(sound.value("codec_name").toString(), "aac");
        QCOMPARE(sound.value("sample_rate").toString(), "44100");
        QCOMPARE(sound.value("channels").toInt(), 1);
        QCOMPARE(sound.value("duration_ts").toInt(), clicked.size() * 2205);
        QVERIFY2(!audiotest::attachedPicture(audioPath).isEmpty(), "no attached picture");

        const QJsonObject tags = testsupport::probe(audioPath).value("format")["tags"].toObject();
        QVERIFY(tags["title"].toString().startsWith("zwirl 20"));
        QCOMPARE(tags["comment"].toString(), "6 clicks");

        const std::vector<int16_t> pcm = audiotest::decodeWithFfmpeg(audioPath);
        QCOMPARE(pcm.size(), std::size_t(clicked.size() * 2205));
        QList<double> sums;
        for (int colour : clicked)
            sums << components[colour][0] + components[colour][1] + components[colour][2];
        const QString mismatch = clickPitchMismatch(pcm, sums);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

        // The picture: 512 x 612, a white header with its separator, the squares in click order
        // from the lower left (six clicks: side 170, three per row).
        const QImage png(s.home.outputFolder() + u'/' + pictures.first());
        QCOMPARE(png.size(), QSize(512, 612));
        QCOMPARE(png.pixelColor(2, 2), QColor(Qt::white));
        QCOMPARE(png.pixelColor(300, 89), QColor(170, 170, 170));
        QCOMPARE(png.pixelColor(300, 88), QColor(Qt::white));
        QCOMPARE(png.pixelColor(3, 89), QColor(Qt::white));
        for (int k = 0; k < clicked.size(); ++k) {
            const auto& c = components[clicked[k]];
            // The logo stays out of the PNG: the square's centre shows its own colour.
            QCOMPARE(png.pixelColor((k % 3) * 170 + 85, 611 - ((k / 3) * 170 + 85)),
                     QColor::fromRgbF(c[0], c[1], c[2]));
        }
        QCOMPARE(png.pixelColor(511, 611 - 85),
                 QColor(Qt::white));                           // the 2-point strip at the right
        QCOMPARE(png.pixelColor(255, 150), QColor(Qt::white)); // above the squares
        // Text drawn in the header to the right of the logo.
        int inked = 0;
        for (int y = 30; y < 75; ++y)
            for (int x = 100; x < 300; ++x)
                inked += png.pixelColor(x, y) != QColor(Qt::white);
        QVERIFY(inked > 50);

        // Custom icons on the audio file and on the folder made for the first export.
        QVERIFY(hasCustomIcon(audioPath, s.home));
        QVERIFY(hasCustomIcon(s.home.outputFolder(), s.home));

        // A stop from the bus is seen in no window: a notification tells of it, with its
        // button for the folder, which stays closed.
        QVERIFY(s.notifications.waitForBody(kSaved));
        QVERIFY(s.notifications.notifications().last().actions.contains("open-folder"));
        QVERIFY(s.opener.opened().isEmpty());
        QVERIFY(!s.home.hasAnyQuitKey());
    }

    void stoppingWithoutClicksWritesNothingAndSaysSo() {
        Session s;
        QVERIFY(s.start());
        QVERIFY(startRun());
        action("stop");
        QVERIFY(s.notifications.waitForBody(
            "Stopped tracking: no clicks were recorded, so nothing was saved."));
        // The export job is over once it is no longer busy; it would have made the folder.
        QVERIFY(waitUntilSaved());
        QVERIFY(!QFileInfo::exists(s.home.outputFolder()));
    }

    // The stored run is announced, saved with its own dates, and the folder opens.
    void restoredRunCarriesItsStoredDates() {
        Session s;
        const QDateTime start(QDate(2026, 12, 6), QTime(7, 20, 0));
        s.home.storeRun({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, start, start.addSecs(30 * 60 + 9));
        QVERIFY(s.start());
        QVERIFY(s.notifications.waitForBody("Saving zwirl from last session..."));
        QVERIFY(s.notifications.waitForBody(kSaved, 60000));
        QVERIFY(waitUntilSaved());

        QCOMPARE(filesIn(s.home.outputFolder()),
                 (QStringList{"zwirl_061226_075009.m4a", "zwirl_061226_075009.png"}));
        QVERIFY(s.app.output().contains("07:20:00 06/12/26 - 07:50:09 06/12/26"));
        const QJsonObject tags = probe(s.home.outputFolder() + "/zwirl_061226_075009.m4a")
                                     .value("format")["tags"]
                                     .toObject();
        QCOMPARE(tags["title"].toString(), "zwirl 2026-12-06 07:50:09");
        QVERIFY(waitFor([&] { return !s.opener.opened().isEmpty(); }));
        QCOMPARE(QUrl(s.opener.opened().first()).toLocalFile(), s.home.outputFolder());
        QVERIFY(!s.home.hasAnyQuitKey());

        // "Saved" took the place of "Saving", both with the application's icon; its "Open
        // Folder" button, picked in the notification server's menu, opens the folder again.
        QList<Notification> told;
        QVERIFY(waitFor(
            [&] { return (told = s.notifications.notifications()).size() == 2 && told[1].id; }));
        QCOMPARE(told[1].body, kSaved);
        QVERIFY(told[0].id != 0);
        QCOMPARE(told[1].replacesId, told[0].id);
        QCOMPARE(told[1].id, told[0].id);
        for (const Notification& notification : told)
            QCOMPARE(notification.appIcon, "de.tolvarek.zwirl");
        QCOMPARE(told[0].actions, (QStringList{"default", ""}));
        QCOMPARE(told[1].actions, (QStringList{"default", "", "open-folder", "Open Folder"}));
        QCOMPARE(runTool("dunstctl", {"context"}).exitCode, 0);
        QVERIFY(waitFor([&] { return s.opener.opened().size() == 2; }));
        QCOMPARE(QUrl(s.opener.opened().last()).toLocalFile(), s.home.outputFolder());
    }

    void aRunThatCannotBeSavedIsKeptForTheNextLaunch() {
        Session s;
        // A plain file where the folder should be: nothing can be written.
        QFile blocker(s.home.outputFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        s.home.storeRun({{1, 0, 0}, {0.5, 0.5, 0.5}}, QDateTime(QDate(2026, 1, 2), QTime(10, 0)),
                        QDateTime(QDate(2026, 1, 2), QTime(10, 5)));
        QVERIFY(s.start());
        QVERIFY(s.notifications.waitForBody("Could not save your clicks to the desktop...", 60000));
        QVERIFY(waitUntilSaved());
        QVERIFY(!s.notifications.bodies().contains(kSaved));
        QVERIFY(s.app.stop(SIGTERM));
        QCOMPARE(s.home.storedSamples().size(), 2);

        // Once the cause is gone, the next launch saves the run, once.
        QVERIFY(QFile::remove(s.home.outputFolder()));
        QVERIFY(s.start());
        QVERIFY(s.notifications.waitForBody(kSaved, 60000));
        QVERIFY(waitUntilSaved());
        QVERIFY(s.app.stop(SIGTERM));
        QCOMPARE(filesIn(s.home.outputFolder(), "zwirl_020126_100500.*").size(), 2);
        QVERIFY(!s.home.hasAnyQuitKey());
    }

    void quitDuringALongExportCompletesBothFiles() {
        Session s;
        const QDateTime end(QDate(2026, 3, 4), QTime(5, 6, 7));
        s.home.storeRun(samplePattern(9999), end.addSecs(-600), end);
        QVERIFY(s.start());
        QVERIFY(waitFor(isExporting, 10000));
        // The export tells how far it has come.
        QVERIFY(waitFor([] { return controlProperty("ExportProgress").toDouble() > 0.0; }));
        QVERIFY(s.app.stop(SIGTERM, 120000));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);

        const QString base = s.home.outputFolder() + "/zwirl_040326_050607";
        // 9999 x 2205 frames, counted in single precision as the renderer does.
        QCOMPARE(audiotest::audioStream(base + ".m4a").value("duration_ts").toInt(),
                 qint64(9999.0f * 2205.0f));
        QCOMPARE(QImage(base + ".png").size(), QSize(512, 612));
        QVERIFY(!s.home.hasAnyQuitKey());
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
