// The click-to-sound renderer: exact rendered values, the 16-bit data that reaches the encoder,
// and the pitch of every click in the decoded '.m4a'.
#include "sound/AudioTestTools.h"
#include "support/TestSupport.h"

#include "platform/AudioTypes.h"
#include "sound/DROVAudioFileHelper.h"
#include "sound/EAFWrite.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using audiotest::decodeWithFfmpeg;

namespace {

const ClickSample kBlack{0.0, 0.0, 0.0};
const ClickSample kWhite{1.0, 1.0, 1.0};
const ClickSample kRed{1.0, 0.0, 0.0};

// The rendered signal as the writer hands it to the encoder: written through the same float
// path into a 16-bit WAVE and read back by ffmpeg.
std::vector<int16_t> sixteenBitData(std::vector<float> signal, const QTemporaryDir& dir) {
    const QString path = dir.filePath("signal.wav");
    {
        EAFWrite writer;
        if (writer.openFileForWrite(QUrl::fromLocalFile(path), 44100.0, 1, 16,
                                    kAudioFileWAVEType) != noErr)
            return {};
        float* channels[] = {signal.data()};
        writer.writeFloats(int64_t(signal.size()), channels);
    }
    return decodeWithFfmpeg(path);
}

} // namespace

class TestDROVAudioFileHelper : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mapsColourSumsToPitch();
    void countsFramesInSinglePrecision();
    void rendersOneBlackClickExactly();
    void rendersOneWhiteClickExactly();
    void pitchChangesAtTheClickBoundary();
    void writesClippedTonesOfEveryClickIntoTheM4a();
    void replacesAFileAndIgnoresAnEmptyRecording();
};

void TestDROVAudioFileHelper::mapsColourSumsToPitch() {
    QCOMPARE(DROVAudioFileHelper::newFreq(0.0f), 50.0f);
    QCOMPARE(DROVAudioFileHelper::newFreq(1.0f), 1050.0f);
    QCOMPARE(DROVAudioFileHelper::newFreq(1.5f), 1550.0f);
    QCOMPARE(DROVAudioFileHelper::newFreq(3.0f), 3050.0f);
    // Two roundings, not one multiplication by 1000.
    const float s = 0.123456789f;
    QCOMPARE(DROVAudioFileHelper::newFreq(s), float(s * 100.0f) * 10.0f + 50.0f);
}

void TestDROVAudioFileHelper::countsFramesInSinglePrecision() {
    QCOMPARE(DROVAudioFileHelper::frameCountForClicks(1), 2205);
    QCOMPARE(DROVAudioFileHelper::frameCountForClicks(7608), 7608 * 2205);
    QCOMPARE(DROVAudioFileHelper::frameCountForClicks(7609), 16777844);
    QCOMPARE(DROVAudioFileHelper::frameCountForClicks(9999), 22047796);

    const Samples many(7609, kBlack);
    const std::vector<float> signal = DROVAudioFileHelper::renderSignal(many);
    QCOMPARE(signal.size(), size_t(16777844));
}

void TestDROVAudioFileHelper::rendersOneBlackClickExactly() {
    const std::vector<float> signal = DROVAudioFileHelper::renderSignal({kBlack});
    QCOMPARE(signal.size(), size_t(2205));
    const std::vector<float> first(signal.begin(), signal.begin() + 5);
    QCOMPARE(first, (std::vector<float>{249, 498, 747, 997, 1246}));
    QCOMPARE(signal[440], 0.0f);
    QCOMPARE(signal[441], -248.0f);
    for (float value : signal) {
        QCOMPARE(value, std::trunc(value));
        QVERIFY(value >= -35000.0f && value <= 35000.0f);
    }

    QTemporaryDir dir;
    const std::vector<int16_t> encoded = sixteenBitData(signal, dir);
    QCOMPARE(encoded.size(), size_t(2205));
    for (size_t i = 0; i < encoded.size(); ++i) {
        const int16_t expected = i == 440 ? 0 : (signal[i] > 0 ? 32735 : -32768);
        QCOMPARE(encoded[i], expected);
    }
}

void TestDROVAudioFileHelper::rendersOneWhiteClickExactly() {
    const std::vector<float> signal = DROVAudioFileHelper::renderSignal({kWhite});
    const std::vector<float> first(signal.begin(), signal.begin() + 5);
    QCOMPARE(first, (std::vector<float>{14735, 26731, 33758, 34510, 28847}));
}

void TestDROVAudioFileHelper::pitchChangesAtTheClickBoundary() {
    const std::vector<float> one = DROVAudioFileHelper::renderSignal({kBlack});
    const std::vector<float> two = DROVAudioFileHelper::renderSignal({kBlack, kRed});
    QCOMPARE(two.size(), size_t(4410));
    QVERIFY(std::equal(one.begin(), one.end(), two.begin()));
    // Frame 2205 is the first at 1050 Hz, going on from the phase frame 2204 left (one of the
    // two phases that give frame 2204's value).
    const double seen = std::asin(one[2204] / 35000.0);
    const auto matchesStep = [&](double hz) {
        for (double phase : {seen, M_PI - seen}) {
            const double next = std::sin(phase + 2 * M_PI * hz / 44100.0) * 35000.0;
            if (std::abs(two[2205] - next) < 40)
                return true;
        }
        return false;
    };
    QVERIFY(matchesStep(1050));
    QVERIFY(!matchesStep(50));
}

void TestDROVAudioFileHelper::writesClippedTonesOfEveryClickIntoTheM4a() {
    QTemporaryDir dir;
    const QString path = dir.filePath("zwirl_test.m4a");
    Samples samples{kBlack, kWhite, kRed, {0.0, 0.5, 0.0}, {0.2, 0.3, 0.4}, {0.0, 0.0, 1.0}};
    for (int i = 0; i < 20; ++i)
        samples.push_back({i / 20.0, 1.0 - i / 20.0, (i % 3) / 3.0});
    QVERIFY(DROVAudioFileHelper::writeSamplesToFile(samples, path));

    const QJsonObject stream = audiotest::audioStream(path);
    QCOMPARE(stream.value("codec_name").toString(), QString("aac"));
    QCOMPARE(stream.value("sample_rate").toString(), QString("44100"));
    QCOMPARE(stream.value("channels").toInt(), 1);
    QCOMPARE(stream.value("duration_ts").toInt(), int(samples.size()) * 2205);
    const QByteArray atoms = testsupport::runTool("AtomicParsley", {path, "-t"}).out;
    QVERIFY2(atoms.contains("Atom \"covr\" contains: 1 piece of artwork"), atoms.constData());

    const std::vector<int16_t> decoded = decodeWithFfmpeg(path);
    QVERIFY(decoded.size() >= samples.size() * 2205);
    for (size_t k = 0; k < samples.size(); ++k) {
        const float s = (float(samples[k][0]) + float(samples[k][1])) + float(samples[k][2]);
        const double expected = DROVAudioFileHelper::newFreq(s);
        const double measured = audiotest::zeroCrossingPitch(decoded, k * 2205 + 100, 2005);
        QVERIFY2(
            std::abs(measured - expected) < std::max(2.0, expected * 0.02),
            qPrintable(
                QString("click %1: %2 Hz, expected %3 Hz").arg(k).arg(measured).arg(expected)));
    }
}

void TestDROVAudioFileHelper::replacesAFileAndIgnoresAnEmptyRecording() {
    QTemporaryDir dir;
    const QString path = dir.filePath("again.m4a");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("not audio");
    old.close();
    QVERIFY(DROVAudioFileHelper::writeSamplesToFile({kWhite}, path));
    QCOMPARE(audiotest::audioStream(path).value("duration_ts").toInt(), 2205);

    const QString none = dir.filePath("none.m4a");
    QVERIFY(!DROVAudioFileHelper::writeSamplesToFile({}, none));
    QVERIFY(!QFileInfo::exists(none));

    // A folder that is not there: the failure reaches the caller.
    QVERIFY(!DROVAudioFileHelper::writeSamplesToFile({kWhite}, dir.filePath("missing/x.m4a")));
}

QTEST_MAIN(TestDROVAudioFileHelper)
#include "tst_DROVAudioFileHelper.moc"
