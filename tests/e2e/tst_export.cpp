// Ending a run saves it: the files the installed application writes into ~/Desktop/zwirl, what
// it tells the user, and how it keeps a run it could not save.
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <csignal>

using namespace testsupport;

namespace {

const QString kSamplesKey = TempHome::kSamplesKey;
const QString kSaved = QStringLiteral("Saved your clicks to the desktop...");
const QString kNotSaved = QStringLiteral("Could not save your clicks to the desktop...");

// The metadata store lives under the data folder, so it is read as the application's user.
QString customIcon(const QString& path, const TempHome& home) {
    const ToolResult info = runTool(QStringLiteral("gio"),
                                    {QStringLiteral("info"), QStringLiteral("-a"),
                                     QStringLiteral("metadata::custom-icon"), path},
                                    60000, home.environment());
    const QString text = QString::fromUtf8(info.out);
    const qsizetype at = text.indexOf(QStringLiteral("metadata::custom-icon: "));
    return at < 0 ? QString() : text.mid(at + 23).section(u'\n', 0, 0).trimmed();
}

// Decodes the audio to 16-bit mono samples at 44100 Hz with the ffmpeg tool.
QVector<qint16> decode(const QString& path) {
    const ToolResult r = runTool(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
         QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-ac"), QStringLiteral("1"),
         QStringLiteral("-ar"), QStringLiteral("44100"), QStringLiteral("-")});
    QVector<qint16> pcm(r.out.size() / 2);
    memcpy(pcm.data(), r.out.constData(), size_t(pcm.size()) * 2);
    return pcm;
}

// The pitch of a stretch of a hard-clipped tone, from its sign changes.
double pitchOf(const QVector<qint16>& pcm, qsizetype from, qsizetype count) {
    int crossings = 0;
    for (qsizetype i = from + 1; i < from + count && i < pcm.size(); ++i)
        if ((pcm[i - 1] < 0) != (pcm[i] < 0))
            ++crossings;
    return crossings / 2.0 / (double(count) / 44100.0);
}

double expectedPitch(double r, double g, double b) {
    return 50.0 + 1000.0 * (r + g + b);
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        QVERIFY2(QFileInfo(installedBinary()).isExecutable(), qPrintable(installedBinary()));
    }

    void stopWritesTheRunSilently() {
        const QStringList colours{QStringLiteral("#ff0000"), QStringLiteral("#000000"),
                                  QStringLiteral("#ffffff"), QStringLiteral("#0000ff")};
        const QList<QList<double>> components{{1, 0, 0}, {0, 0, 0}, {1, 1, 1}, {0, 0, 1}};
        const QList<int> clicked{0, 1, 2, 3, 2, 0};
        ColourStripes stripes(colours);
        QVERIFY(stripes.isShown());
        TempHome home;
        OpenRecorder opener;
        NotificationMonitor notifications;
        AppInstance app(home);
        QVERIFY(app.start(15000, {opener.pathEntry()}));
        AppInstance::action(QStringLiteral("start"));
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
        for (int stripe : clicked)
            QVERIFY(clickAt(stripes.centreOf(stripe)));
        QVERIFY(waitFor([&] { return AppInstance::sampleCount() == uint(clicked.size()); }, 5000));
        AppInstance::action(QStringLiteral("stop"));
        QVERIFY(waitFor([] { return !AppInstance::isTracking(); }, 5000));
        QVERIFY(AppInstance::waitUntilSaved());

        const QStringList audio = filesIn(home.outputFolder(), QStringLiteral("*.m4a"));
        const QStringList pictures = filesIn(home.outputFolder(), QStringLiteral("*.png"));
        QCOMPARE(audio.size(), 1);
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(audio.first().section(u'.', 0, 0), pictures.first().section(u'.', 0, 0));
        QVERIFY(QRegularExpression(QStringLiteral("^zwirl_\\d{6}_\\d{6}\\.m4a$"))
                    .match(audio.first())
                    .hasMatch());
        const QString audioPath = home.outputFolder() + u'/' + audio.first();
        const QString picturePath = home.outputFolder() + u'/' + pictures.first();

        // The audio: AAC, 44100 Hz, mono, exactly 50 ms per click, with its cover art.
        const QJsonObject probed = probe(audioPath);
        const QJsonObject sound = audioStreamOf(probed);
        const QJsonObject cover = attachedPictureOf(probed);
        QCOMPARE(sound.value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
        QCOMPARE(sound.value(QStringLiteral("sample_rate")).toString(), QStringLiteral("44100"));
        QCOMPARE(sound.value(QStringLiteral("channels")).toInt(), 1);
        QCOMPARE(sound.value(QStringLiteral("duration_ts")).toInt(), clicked.size() * 2205);
        QVERIFY2(!cover.isEmpty(), "no attached picture");

        // Each click's pitch in its 50 ms (the edges of each segment left out). The command-line
        // decoder keeps the encoder's padding after the last frame, so it may give more.
        const QVector<qint16> pcm = decode(audioPath);
        QVERIFY(pcm.size() >= clicked.size() * 2205);
        for (int k = 0; k < clicked.size(); ++k) {
            const auto& c = components[clicked[k]];
            const double want = expectedPitch(c[0], c[1], c[2]);
            const double got = pitchOf(pcm, k * 2205 + 200, 1800);
            QVERIFY2(
                std::abs(got - want) <= want * 0.05 + 30,
                qPrintable(QStringLiteral("click %1: %2 Hz, want %3").arg(k).arg(got).arg(want)));
        }

        // The picture: 512 x 612, a white header with its separator, the squares in click order
        // from the lower left (six clicks: side 170, three per row).
        const QImage png(picturePath);
        QCOMPARE(png.size(), QSize(512, 612));
        QCOMPARE(png.pixelColor(2, 2), QColor(Qt::white));
        QCOMPARE(png.pixelColor(300, 89), QColor(170, 170, 170));
        QCOMPARE(png.pixelColor(300, 88), QColor(Qt::white));
        QCOMPARE(png.pixelColor(3, 89), QColor(Qt::white));
        for (int k = 0; k < clicked.size(); ++k) {
            const auto& c = components[clicked[k]];
            const QPoint centre((k % 3) * 170 + 85, 611 - ((k / 3) * 170 + 85));
            const QColor want = QColor::fromRgbF(c[0], c[1], c[2]);
            // The logo stays out of the PNG: the square's centre shows its own colour.
            QCOMPARE(png.pixelColor(centre), want);
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
        QVERIFY(!customIcon(audioPath, home).isEmpty());
        QVERIFY(!customIcon(home.outputFolder(), home).isEmpty());

        // The stop button tells nothing and opens nothing. Notifications go out in order, so
        // once the next run's start is announced, a "Saved" would have come before it.
        AppInstance::action(QStringLiteral("start"));
        QVERIFY(notifications.waitForBody(QStringLiteral("Started tracking mouse clicks...")));
        for (const auto& [summary, body] : notifications.notifications())
            QVERIFY(body != kSaved);
        QVERIFY(opener.opened().isEmpty());
        QVERIFY(!home.hasAnyQuitKey());
        QVERIFY(app.stop(SIGTERM));
    }

    void stoppingWithoutClicksWritesNothing() {
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        AppInstance::action(QStringLiteral("start"));
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
        AppInstance::action(QStringLiteral("stop"));
        // The export job is over once it is no longer busy; it would have made the folder.
        QVERIFY(AppInstance::waitUntilSaved());
        QVERIFY(!QFileInfo::exists(home.outputFolder()));
        QVERIFY(app.stop(SIGTERM));
    }

    void restoredRunCarriesItsStoredDates() {
        TempHome home;
        const QDateTime start(QDate(2026, 12, 6), QTime(7, 20, 0));
        const QDateTime end(QDate(2026, 12, 6), QTime(7, 50, 9));
        home.storeRun({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, start, end);
        OpenRecorder opener;
        NotificationMonitor notifications;
        AppInstance app(home);
        QVERIFY(app.start(15000, {opener.pathEntry()}));
        QVERIFY(notifications.waitForBody(QStringLiteral("Saving zwirl from last session...")));
        QVERIFY(notifications.waitForBody(kSaved, 60000));
        QVERIFY(AppInstance::waitUntilSaved());

        QVERIFY(
            QFileInfo::exists(home.outputFolder() + QStringLiteral("/zwirl_061226_075009.m4a")));
        QVERIFY(
            QFileInfo::exists(home.outputFolder() + QStringLiteral("/zwirl_061226_075009.png")));
        QVERIFY(app.output().contains("07:20:00 06/12/26 - 07:50:09 06/12/26"));
        QVERIFY(waitFor([&] { return !opener.opened().isEmpty(); }, 5000));
        QCOMPARE(QUrl(opener.opened().first()).toLocalFile(), home.outputFolder());
        QVERIFY(!home.hasAnyQuitKey());
        QVERIFY(app.stop(SIGTERM));
    }

    void aRunThatCannotBeSavedIsKeptForTheNextLaunch() {
        TempHome home;
        // A plain file where the folder should be: nothing can be written.
        QFile blocker(home.outputFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        home.storeRun({{1, 0, 0}, {0.5, 0.5, 0.5}}, QDateTime(QDate(2026, 1, 2), QTime(10, 0, 0)),
                      QDateTime(QDate(2026, 1, 2), QTime(10, 5, 0)));
        {
            NotificationMonitor notifications;
            AppInstance app(home);
            QVERIFY(app.start());
            QVERIFY(notifications.waitForBody(kNotSaved, 60000));
            QVERIFY(AppInstance::waitUntilSaved());
            for (const auto& [summary, body] : notifications.notifications())
                QVERIFY(body != kSaved);
            QVERIFY(app.stop(SIGTERM));
        }
        QSettings settings(home.configFile(), QSettings::IniFormat);
        QCOMPARE(settings.value(kSamplesKey).toList().size(), 2);

        // Once the cause is gone, the next launch saves the run, once.
        QVERIFY(QFile::remove(home.outputFolder()));
        {
            NotificationMonitor notifications;
            AppInstance app(home);
            QVERIFY(app.start());
            QVERIFY(notifications.waitForBody(kSaved, 60000));
            QVERIFY(AppInstance::waitUntilSaved());
            QVERIFY(app.stop(SIGTERM));
        }
        QCOMPARE(filesIn(home.outputFolder(), QStringLiteral("zwirl_020126_100500.*")).size(), 2);
        QVERIFY(!home.hasAnyQuitKey());
    }

    void quitDuringALongExportCompletesBothFiles() {
        TempHome home;
        QList<QList<double>> samples;
        for (int i = 0; i < 9999; ++i)
            samples.append({(i % 7) / 7.0, (i % 3) / 3.0, (i % 11) / 11.0});
        const QDateTime end(QDate(2026, 3, 4), QTime(5, 6, 7));
        home.storeRun(samples, end.addSecs(-600), end);
        AppInstance app(home);
        QVERIFY(app.start());
        QVERIFY(waitFor([] { return AppInstance::isExporting(); }, 10000));
        QVERIFY(app.stop(SIGTERM, 120000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);

        const QString base = home.outputFolder() + QStringLiteral("/zwirl_040326_050607");
        const QJsonObject probed = probe(base + QStringLiteral(".m4a"));
        // 9999 x 2205 frames, counted in single precision as the renderer does.
        QCOMPARE(audioStreamOf(probed).value(QStringLiteral("duration_ts")).toInt(),
                 qint64(9999.0f * 2205.0f));
        QCOMPARE(QImage(base + QStringLiteral(".png")).size(), QSize(512, 612));
        QVERIFY(!home.hasAnyQuitKey());
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
