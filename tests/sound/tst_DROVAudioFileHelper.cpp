// SPDX-License-Identifier: GPL-3.0-or-later
// The click-to-sound renderer: exact rendered values, the 16-bit data that reaches the encoder,
// the slice-by-slice export against a whole-recording rendering, and the pitch of every click
// in the decoded '.m4a'.
#include "sound/AudioTestTools.h"
#include "sound/ClickTone.h"
#include "sound/DROVAudioFileHelper.h"
#include "sound/ExportCheck.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>
#include <random>

using namespace zwirl;
using audiotest::decodeWithFfmpeg;

namespace {

const ClickSample kBlack{0.0, 0.0, 0.0}, kWhite{1.0, 1.0, 1.0}, kRed{1.0, 0.0, 0.0};

// The whole recording rendered into one buffer, frame by frame, as the renderer has always
// done it: the reference that rendering in slices must match exactly.
std::vector<float> wholeRendering(const Samples& samples) {
    const int32_t frames = int32_t(float(samples.size()) * 2205.0f);
    std::vector<float> buffer(static_cast<size_t>(frames));
    const int32_t last = int32_t(samples.size()) - 1;
    int32_t k = 0;
    float f = 0.0f, phase = 0.0f;
    for (int32_t i = 0; i < frames; ++i) {
        if (float(i) == float(k) * 2205.0f) {
            const ClickSample& c = samples[size_t(k)];
            f = DROVAudioFileHelper::newFreq((float(c[0]) + float(c[1])) + float(c[2]));
            k = k < last ? k + 1 : k;
        }
        phase += float(double(f + f) * 3.141592653589793 / 44100.0);
        if (phase > 10000.0f)
            phase = 0.0f;
        buffer[size_t(i)] = float(int32_t(std::sin(double(phase)) * 35000.0));
    }
    return buffer;
}

std::vector<float> render(const Samples& samples) {
    ClickToneRenderer renderer(samples);
    std::vector<float> signal(size_t(renderer.totalFrames()));
    renderer.render(signal.data(), renderer.totalFrames());
    return signal;
}

Samples randomClicks(int count) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> component(0.0, 1.0);
    Samples samples;
    for (int i = 0; i < count; ++i)
        samples.push_back({component(random), component(random), component(random)});
    return samples;
}

// The md5 of the file's encoded audio packets, whatever else the file holds.
QByteArray audioPacketsMd5(const QString& path) {
    return testsupport::runTool("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0",
                                           "-c", "copy", "-f", "md5", "-"})
        .out.trimmed();
}

} // namespace

class TestDROVAudioFileHelper : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mapsPitchAndCountsFramesInSinglePrecision() {
        QCOMPARE(DROVAudioFileHelper::newFreq(0.0f), 50.0f);
        QCOMPARE(DROVAudioFileHelper::newFreq(1.0f), 1050.0f);
        QCOMPARE(DROVAudioFileHelper::newFreq(1.5f), 1550.0f);
        QCOMPARE(DROVAudioFileHelper::newFreq(3.0f), 3050.0f);
        // Two roundings, not one multiplication by 1000.
        const float s = 0.123456789f;
        QCOMPARE(DROVAudioFileHelper::newFreq(s), float(s * 100.0f) * 10.0f + 50.0f);
        QCOMPARE(ClickToneRenderer::frameCountForClicks(7608), int64_t(7608 * 2205));
        QCOMPARE(ClickToneRenderer::frameCountForClicks(7609), int64_t(16777844));
        QCOMPARE(ClickToneRenderer::frameCountForClicks(9999), int64_t(22047796));
        // Past 32 bits without wrapping: 973,916 clicks are more frames than an int holds.
        QVERIFY(ClickToneRenderer::frameCountForClicks(973916) > int64_t(INT32_MAX));
    }

    void rendersClicksExactly() {
        const std::vector<float> black = render({kBlack});
        QCOMPARE(black.size(), size_t(2205));
        QCOMPARE(std::vector<float>(black.begin(), black.begin() + 5),
                 (std::vector<float>{249, 498, 747, 997, 1246}));
        QCOMPARE(black[440], 0.0f);
        QCOMPARE(black[441], -248.0f);
        const std::vector<float> white = render({kWhite});
        QCOMPARE(std::vector<float>(white.begin(), white.begin() + 5),
                 (std::vector<float>{14735, 26731, 33758, 34510, 28847}));

        // The writer's clipping makes a full-scale square wave of it.
        QTemporaryDir dir;
        QCOMPARE(audiotest::writeMono(dir.filePath("s.wav"), kAudioFileWAVEType, black), noErr);
        const std::vector<int16_t> encoded = decodeWithFfmpeg(dir.filePath("s.wav"));
        QCOMPARE(encoded.size(), size_t(2205));
        for (size_t i = 0; i < encoded.size(); ++i)
            QCOMPARE(encoded[i], int16_t(i == 440 ? 0 : (black[i] > 0 ? 32735 : -32768)));

        // Frame 2205 is the first at 1050 Hz, going on from the phase frame 2204 left (one of
        // the two phases that give frame 2204's value).
        const std::vector<float> two = render({kBlack, kRed});
        QCOMPARE(two.size(), size_t(4410));
        QVERIFY(std::equal(black.begin(), black.end(), two.begin()));
        const double seen = std::asin(black[2204] / 35000.0);
        const auto continuesAt = [&](double hz) {
            for (double phase : {seen, M_PI - seen})
                if (std::abs(two[2205] - std::sin(phase + 2 * M_PI * hz / 44100.0) * 35000.0) < 40)
                    return true;
            return false;
        };
        QVERIFY(continuesAt(1050));
        QVERIFY(!continuesAt(50));
    }

    void rendersInSlicesExactlyAsAWholeBuffer() {
        // Beyond 2^24 frames, where the single-precision boundaries move.
        const Samples samples = randomClicks(7609);
        const std::vector<float> whole = wholeRendering(samples);
        ClickToneRenderer renderer(samples);
        QCOMPARE(renderer.totalFrames(), int64_t(16777844));
        std::vector<float> sliced(whole.size() + 1, 42.0f);
        int64_t at = 0;
        for (int64_t step : {1, 2204, 2205, 2206, 4096, 99991})
            at += renderer.render(sliced.data() + at, step);
        while (renderer.framesLeft() > 0)
            at += renderer.render(sliced.data() + at, 65536);
        QCOMPARE(at, int64_t(whole.size()));
        QCOMPARE(renderer.render(sliced.data() + at, 10), int64_t(0));
        QCOMPARE(sliced.back(), 42.0f);
        sliced.pop_back();
        QVERIFY(sliced == whole);

        // The worker's thread gives the same frames, and nothing once they are all given; one
        // dropped part-way stops.
        ClickToneWorker worker(samples, 65536);
        std::vector<float> fromWorker;
        for (std::span<float> slice; !(slice = worker.next()).empty();)
            fromWorker.insert(fromWorker.end(), slice.begin(), slice.end());
        QVERIFY(fromWorker == whole);
        QVERIFY(worker.next().empty());
        ClickToneWorker dropped(samples, 4096);
        QCOMPARE(dropped.next().size(), size_t(4096));
    }

    // No conversion of the renderer is undefined (the sanitized build stops at one): a click
    // whose colour is not a number is silent, and the next sounds as if it came first.
    void clicksThatAreNotNumbersRenderSilence() {
        const double nan = std::nan(""), inf = HUGE_VAL;
        const Samples valid{{0.5, 0.25, 1.0}};
        for (const ClickSample& bad : {ClickSample{nan, 0, 0}, ClickSample{-inf, 0, 0},
                                       ClickSample{inf, inf, 0}, ClickSample{-1e300, 0, 0}}) {
            const std::vector<float> signal = render({bad, valid[0]});
            const std::vector<float> after(signal.begin() + 2205, signal.end());
            QVERIFY(after == render(valid));
            QVERIFY(std::all_of(signal.begin(), signal.end(),
                                [](float v) { return std::abs(v) <= 35000.0f; }));
        }
    }

    void exportsTheSameAudioAsAWholeBufferWithTheGivenArtwork() {
        QTemporaryDir dir;
        const Samples samples = randomClicks(300);
        const QString whole = dir.filePath("whole.m4a"), streamed = dir.filePath("streamed.m4a");
        QCOMPARE(audiotest::writeMono(whole, kAudioFileM4AType, wholeRendering(samples)), noErr);
        QImage artwork(512, 512, QImage::Format_RGB32);
        artwork.fill(QColor(0, 0, 255));
        QVERIFY(DROVAudioFileHelper::writeSamplesToFile(samples, streamed, artwork));
        const QByteArray md5 = audioPacketsMd5(whole);
        QVERIFY(md5.startsWith("MD5="));
        QCOMPARE(audioPacketsMd5(streamed), md5);

        // The picture embedded is the one given.
        const QByteArray pixel =
            testsupport::runTool("ffmpeg",
                                 {"-v", "error", "-nostdin", "-i", streamed, "-map", "0:v", "-vf",
                                  "scale=1:1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                .out;
        QCOMPARE(pixel.size(), 3);
        QVERIFY2(uchar(pixel[0]) < 20 && uchar(pixel[1]) < 20 && uchar(pixel[2]) > 235,
                 pixel.toHex().constData());
    }

    void writesAnM4aWithItsArtworkInPlaceOfAnyFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("zwirl_test.m4a");
        QFile old(path); // a file that is there is replaced
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("not audio");
        old.close();
        const Samples samples = randomClicks(26);
        QVERIFY(DROVAudioFileHelper::writeSamplesToFile(samples, path));

        // Both decoders cut the encoder's delay and give no padding after the last click.
        QCOMPARE(decodeWithFfmpeg(path).size(), samples.size() * 2205);
        // GStreamer counts in nanoseconds, which a frame at 44100 Hz is not a whole number of: it
        // may keep one frame of what the edit list cuts in front, never less than the sound.
        const qint64 gstreamer =
            audiotest::framesFromGstreamer(path) - qint64(samples.size()) * 2205;
        QVERIFY2(gstreamer == 0 || gstreamer == 1, QByteArray::number(gstreamer));
        const QByteArray atoms = testsupport::runTool("AtomicParsley", {path, "-t"}).out;
        QVERIFY2(atoms.contains("Atom \"covr\" contains: 1 piece of artwork"), atoms.constData());
        // The index comes before the audio.
        const QByteArray tree = testsupport::runTool("AtomicParsley", {path, "-T"}).out;
        QVERIFY2(tree.indexOf("Atom moov @") >= 0 &&
                     tree.indexOf("Atom moov @") < tree.indexOf("Atom mdat @"),
                 tree.constData());

        // Nothing is written for an empty recording; a missing folder fails.
        const QString none = dir.filePath("none.m4a");
        QVERIFY(!DROVAudioFileHelper::writeSamplesToFile({}, none));
        QVERIFY(!QFileInfo::exists(none));
        QVERIFY(!DROVAudioFileHelper::writeSamplesToFile({kWhite}, dir.filePath("missing/x.m4a")));
    }

    // The tags tell what the file is, and the artwork is white where the picture is empty.
    void tagsTheRunAndFlattensTheArtworkOnWhite() {
        QTemporaryDir dir;
        const QString path = dir.filePath("tagged.m4a");
        const Samples samples{kBlack, kBlack, kBlack};
        QImage picture(512, 512, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        picture.setPixelColor(0, 511, Qt::black);
        const QDateTime end(QDate(2026, 12, 6), QTime(7, 50, 9));
        QVERIFY(DROVAudioFileHelper::writeSamplesToFile(samples, path, picture, end));

        const QJsonObject tags = testsupport::probe(path).value("format")["tags"].toObject();
        QCOMPARE(tags["title"].toString(), "zwirl 2026-12-06 07:50:09");
        QCOMPARE(tags["artist"].toString(), "zwirl");
        QVERIFY2(tags["date"].toString().startsWith("2026-12-06T07:50:09"),
                 qPrintable(tags["date"].toString()));
        QCOMPARE(tags["comment"].toString(), "3 clicks");

        const QByteArray rgb =
            testsupport::runTool("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0:v",
                                            "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                .out;
        QCOMPARE(rgb.size(), 512 * 512 * 3);
        const auto brightness = [&](int x, int y) {
            const int at = (y * 512 + x) * 3;
            return uchar(rgb[at]) + uchar(rgb[at + 1]) + uchar(rgb[at + 2]);
        };
        QVERIFY(brightness(511, 0) > 3 * 245);
        QVERIFY(brightness(0, 0) > 3 * 245);
        QVERIFY(brightness(0, 511) < 3 * 160); // the one painted pixel, blurred by JPEG
    }

    // The read-back check passes the file written for its clicks (random colours; 9,999 of them,
    // whose frames single precision counts one too many) and no other list of clicks.
    void theReadBackCheckKnowsTheClicksOfAFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("clicks.m4a");
        Samples samples = randomClicks(9996);
        samples.insert(samples.begin(), {kBlack, kWhite, kRed});
        QVERIFY(DROVAudioFileHelper::writeSamplesToFile(samples, path));
        QCOMPARE(ExportCheck::mismatch(samples, path), QString());
        Samples swapped = samples;
        std::swap(swapped[0], swapped[1]);
        QVERIFY(ExportCheck::mismatch(swapped, path).contains("click 1 crosses zero"));
        QVERIFY(ExportCheck::mismatch(Samples(samples.begin(), samples.end() - 1), path)
                    .contains("frames instead of"));
        QVERIFY(!ExportCheck::mismatch(samples, dir.filePath("none.m4a")).isEmpty());
    }
};

QTEST_MAIN(TestDROVAudioFileHelper)
#include "tst_DROVAudioFileHelper.moc"
