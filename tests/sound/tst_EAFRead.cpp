// The audio file reader on files made by sox, by the ffmpeg command-line tool and by our own
// writer, at other rates and channel counts.
#include "sound/AudioTestTools.h"
#include "support/TestSupport.h"

#include "sound/EAFRead.h"
#include "sound/EAFWrite.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace zwirl;

using audiotest::makeWithTool;

namespace {

QUrl url(const QString& path) {
    return QUrl::fromLocalFile(path);
}

// Everything the reader delivers from its position on, interleaved.
std::vector<int16_t> readToEnd(EAFRead& reader, int channels, int64_t block = 4096) {
    std::vector<int16_t> all;
    while (true) {
        int64_t frames = block;
        OSStatus error = noErr;
        const std::vector<int16_t> data = reader.copyFrames(frames, error);
        if (error != noErr || frames == 0)
            return all;
        all.insert(all.end(), data.begin(), data.begin() + frames * channels);
    }
}

} // namespace

class TestEAFRead : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answersZeroWithoutAFile();
    void refusesARateOfZeroAndMissingFiles();
    void keepsTheFileRateWhenAskedForBelowZero();
    void convertsRateAndChannels();
    void deliversTheRealLengthWithoutPrimingOrPadding_data();
    void deliversTheRealLengthWithoutPrimingOrPadding();
    void seeksByPercentage();
    void seeksLandOnTheExactFrame_data();
    void seeksLandOnTheExactFrame();
    void convertsSamplesToFloatsAndSkipsNullChannels();

private:
    QTemporaryDir m_dir;
    QString m_soxStereo;  // 22050 Hz, 2 channels, 22050 frames
    QString m_soxMono;    // 44100 Hz, 1 channel, 44100 frames
    QString m_ffmpegAac;  // 48000 Hz, 2 channels, 24000 frames, AAC
    QString m_ffmpegFlac; // 32000 Hz, 1 channel, 1001 frames
    QString m_ownM4a;     // 44100 Hz, 1 channel, 30000 frames, our writer
    QString m_mp3;        // 44100 Hz, 1 channel, 44100 frames, MP3 (LAME)
    QString m_opus;       // 48000 Hz, 1 channel, 48000 frames, Opus in Ogg
};

void TestEAFRead::initTestCase() {
    m_soxStereo = m_dir.filePath("sox_stereo.wav");
    m_soxMono = m_dir.filePath("sox_mono.aiff");
    m_ffmpegAac = m_dir.filePath("ffmpeg.m4a");
    m_ffmpegFlac = m_dir.filePath("ffmpeg.flac");
    m_ownM4a = m_dir.filePath("own.m4a");
    m_mp3 = m_dir.filePath("ffmpeg.mp3");
    m_opus = m_dir.filePath("ffmpeg.opus");
    QVERIFY(makeWithTool("sox", {"-n", "-r", "22050", "-c", "2", "-b", "16", m_soxStereo, "synth",
                                 "1", "sine", "440", "sine", "660"}));
    QVERIFY(makeWithTool("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", m_soxMono, "synth",
                                 "1", "sine", "1000", "vol", "0.5"}));
    QVERIFY(makeWithTool("ffmpeg", {"-v", "error", "-nostdin", "-f", "lavfi", "-i",
                                    "sine=f=700:r=48000:d=0.5", "-ac", "2", "-af", "volume=4",
                                    "-c:a", "aac", "-aac_pns", "0", m_ffmpegAac}));
    QVERIFY(makeWithTool("ffmpeg", {"-v", "error", "-nostdin", "-f", "lavfi", "-i",
                                    "sine=f=300:r=32000", "-frames:a", "1", "-af",
                                    "atrim=end_sample=1001", "-c:a", "flac", m_ffmpegFlac}));
    // Exactly one second each; both codecs put priming before the sound and pad after it.
    for (const auto& [path, rate, codec] :
         {std::tuple{m_mp3, 44100, "libmp3lame"}, std::tuple{m_opus, 48000, "libopus"}})
        QVERIFY(makeWithTool("ffmpeg",
                             {"-v", "error", "-nostdin", "-f", "lavfi", "-i",
                              QString("sine=f=440:r=%1").arg(rate), "-af",
                              QString("atrim=end_sample=%1").arg(rate), "-c:a", codec, path}));
    std::vector<float> tone(30000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = float(0.6 * std::sin(2 * M_PI * 523.0 * double(i) / 44100.0));
    EAFWrite writer;
    QCOMPARE(writer.openFileForWrite(url(m_ownM4a), 44100.0, 1, 16, kAudioFileM4AType), noErr);
    float* channels[] = {tone.data()};
    QCOMPARE(writer.writeFloats(int64_t(tone.size()), channels), noErr);
}

void TestEAFRead::answersZeroWithoutAFile() {
    EAFRead reader;
    QCOMPARE(reader.rateRatio(), 1.0);
    QCOMPARE(reader.sampleRate(), 0.0);
    QCOMPARE(reader.fileSampleRate(), 0.0);
    QCOMPARE(reader.tell(), int64_t(0));
    QCOMPARE(reader.fileNumFrames(), int64_t(0));
    QCOMPARE(reader.seekToPercent(50.0), noErr);
    QVERIFY(!reader.isSeeking());
    float buffer[16];
    float* floats[] = {buffer};
    int16_t shorts[16];
    int16_t* ints[] = {shorts};
    QCOMPARE(reader.readFloatsConsecutive(16, floats), -1);
    QCOMPARE(reader.readSInt16Consecutive(16, ints, 0), -1);
    int64_t frames = 16;
    OSStatus error = noErr;
    QVERIFY(reader.copyFrames(frames, error).empty());
    QVERIFY(error != noErr);

    // And again once a file has been open and closed.
    QCOMPARE(reader.openFileForRead(url(m_soxMono), -1.0, 1), noErr);
    QCOMPARE(reader.closeFile(), 0);
    QCOMPARE(reader.fileNumFrames(), int64_t(0));
    QCOMPARE(reader.readFloatsConsecutive(16, floats), -1);
}

void TestEAFRead::refusesARateOfZeroAndMissingFiles() {
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(m_soxMono), 0.0, 1), kAudioFileParamError);
    QCOMPARE(reader.fileNumFrames(), int64_t(0));
    QCOMPARE(reader.openFileForRead(url(m_dir.filePath("none.wav")), 44100.0, 1),
             kAudioFileFileNotFoundError);
    QCOMPARE(reader.sampleRate(), 0.0);
    const QString text = m_dir.filePath("text.wav");
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not audio at all, only a few words of text");
    file.close();
    QCOMPARE(reader.openFileForRead(url(text), 44100.0, 1), kAudioFileInvalidFileError);
}

void TestEAFRead::keepsTheFileRateWhenAskedForBelowZero() {
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(m_soxStereo), -1.0, 2), noErr);
    QCOMPARE(reader.rateRatio(), 1.0);
    QCOMPARE(reader.sampleRate(), 22050.0);
    QCOMPARE(reader.sampleRate(), reader.fileSampleRate());
    QCOMPARE(reader.fileNumFrames(), int64_t(22050));
    // The same samples as ffmpeg decodes.
    QCOMPARE(readToEnd(reader, 2), audiotest::decodeWithFfmpeg(m_soxStereo));
    QCOMPARE(reader.tell(), int64_t(22050));
}

void TestEAFRead::convertsRateAndChannels() {
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(m_soxMono), 22050.0, 1), noErr);
    QCOMPARE(reader.rateRatio(), 0.5);
    QCOMPARE(reader.fileSampleRate(), 44100.0);
    QCOMPARE(reader.fileNumFrames(), int64_t(22050));
    int64_t frames = 1000;
    OSStatus error = noErr;
    QCOMPARE(reader.copyFrames(frames, error).size(), size_t(2000));
    QCOMPARE(frames, int64_t(1000));
    reader.seekToStart();
    const std::vector<int16_t> half = readToEnd(reader, 1, 1000);
    QCOMPARE(half.size(), size_t(22050));
    QCOMPARE(reader.tell(), int64_t(22050));
    const double pitch = audiotest::zeroCrossingPitch(half, 1000, 20000, 22050.0);
    QVERIFY2(std::abs(pitch - 1000.0) < 1.0, qPrintable(QString::number(pitch)));

    // Mono to stereo: both channels the same; stereo AAC at 48 kHz to mono at 44.1 kHz.
    EAFRead stereo;
    QCOMPARE(stereo.openFileForRead(url(m_soxMono), -1, 2), noErr);
    const std::vector<int16_t> both = readToEnd(stereo, 2);
    QCOMPARE(both.size(), size_t(88200));
    for (size_t i = 0; i < both.size(); i += 2)
        QCOMPARE(both[i], both[i + 1]);
    EAFRead down;
    QCOMPARE(down.openFileForRead(url(m_ffmpegAac), 44100.0, 1), noErr);
    QCOMPARE(down.fileNumFrames(), int64_t(22050));
    const std::vector<int16_t> mono = readToEnd(down, 1);
    QCOMPARE(mono.size(), size_t(22050));
    const double tone = audiotest::zeroCrossingPitch(mono, 2000, 18000, 44100.0);
    QVERIFY2(std::abs(tone - 700.0) < 1.0, qPrintable(QString::number(tone)));
}

void TestEAFRead::deliversTheRealLengthWithoutPrimingOrPadding_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("frames");
    QTest::newRow("ffmpeg aac") << m_ffmpegAac << qint64(24000);
    QTest::newRow("own aac") << m_ownM4a << qint64(30000);
    QTest::newRow("mp3") << m_mp3 << qint64(44100);
    QTest::newRow("opus") << m_opus << qint64(48000);
    QTest::newRow("flac") << m_ffmpegFlac << qint64(1001);
    QTest::newRow("sox wave") << m_soxStereo << qint64(22050);
}

void TestEAFRead::deliversTheRealLengthWithoutPrimingOrPadding() {
    QFETCH(QString, path);
    QFETCH(qint64, frames);
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(path), -1.0, 1), noErr);
    QCOMPARE(reader.fileNumFrames(), frames);
    const std::vector<int16_t> all = readToEnd(reader, 1, 1000);
    QCOMPARE(qint64(all.size()), frames);
    // The start is the stream's first real frame: ffmpeg's own decode starts there too.
    const std::vector<int16_t> reference = audiotest::decodeWithFfmpeg(path, 1);
    QVERIFY(reference.size() >= all.size());
    for (size_t i = 0; i < all.size(); ++i)
        QVERIFY2(std::abs(all[i] - reference[i]) <= 1, qPrintable(QString::number(i)));
}

void TestEAFRead::seeksByPercentage() {
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(m_ffmpegFlac), -1.0, 1), noErr);
    QCOMPARE(reader.fileNumFrames(), int64_t(1001));
    QCOMPARE(reader.seekToPercent(50.0), noErr);
    QCOMPARE(reader.tell(), int64_t(500));
    QVERIFY(!reader.isSeeking());
    QCOMPARE(reader.seekToPercent(100.0), noErr);
    QCOMPARE(reader.tell(), int64_t(1000));
    int16_t buffer[64];
    int16_t* channels[] = {buffer};
    QCOMPARE(reader.readSInt16Consecutive(64, channels), 1); // the last frame only
    QCOMPARE(reader.readSInt16Consecutive(64, channels), 0);
    QCOMPARE(reader.seekToPercent(250.0), noErr);
    QCOMPARE(reader.tell(), int64_t(1000));
    reader.seekToStart();
    QCOMPARE(reader.tell(), int64_t(0));
    QCOMPARE(reader.readSInt16Consecutive(64, channels), 64);
    QCOMPARE(reader.tell(), int64_t(64));
}

void TestEAFRead::seeksLandOnTheExactFrame_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("channels");
    QTest::newRow("own aac") << m_ownM4a << -1.0 << 1;
    QTest::newRow("ffmpeg aac") << m_ffmpegAac << -1.0 << 2;
    QTest::newRow("ffmpeg aac resampled") << m_ffmpegAac << 44100.0 << 2;
    QTest::newRow("sox wave resampled") << m_soxStereo << 48000.0 << 1;
    QTest::newRow("mp3") << m_mp3 << -1.0 << 1;
    QTest::newRow("opus resampled") << m_opus << 44100.0 << 1;
}

void TestEAFRead::seeksLandOnTheExactFrame() {
    QFETCH(QString, path);
    QFETCH(double, rate);
    QFETCH(int, channels);
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(path), rate, channels), noErr);
    const std::vector<int16_t> all = readToEnd(reader, channels);
    const int64_t total = reader.fileNumFrames();
    QCOMPARE(int64_t(all.size()), total * channels);
    for (double percent : {0.0, 3.0, 37.5, 50.0, 81.0, 99.0}) {
        QCOMPARE(reader.seekToPercent(percent), noErr);
        const int64_t at = reader.tell();
        QCOMPARE(at, int64_t(double(total) * (percent * 0.01)));
        int64_t frames = 700;
        OSStatus error = noErr;
        const std::vector<int16_t> block = reader.copyFrames(frames, error);
        QCOMPARE(error, noErr);
        QCOMPARE(frames, std::min<int64_t>(700, total - at));
        for (int64_t i = 0; i < frames * channels; ++i)
            QVERIFY2(block[size_t(i)] == all[size_t(at * channels + i)],
                     qPrintable(QString("%1%: sample %2 of %3: %4 instead of %5")
                                    .arg(percent)
                                    .arg(i)
                                    .arg(at)
                                    .arg(block[size_t(i)])
                                    .arg(all[size_t(at * channels + i)])));
    }
}

void TestEAFRead::convertsSamplesToFloatsAndSkipsNullChannels() {
    const QString path = m_dir.filePath("values.wav");
    {
        std::vector<int16_t> left{-32768, 16384, 32767, 0, 1};
        std::vector<int16_t> right{100, 200, 300, 400, 500};
        int16_t* data[] = {left.data(), right.data()};
        EAFWrite writer;
        QCOMPARE(writer.openFileForWrite(url(path), 8000.0, 2, 16, kAudioFileWAVEType), noErr);
        QCOMPARE(writer.writeShorts(5, data), noErr);
    }
    EAFRead reader;
    QCOMPARE(reader.openFileForRead(url(path), -1.0, 2), noErr);
    std::vector<float> left(7, 9.0f);
    float* withoutRight[] = {left.data(), nullptr};
    QCOMPARE(reader.readFloatsConsecutive(3, withoutRight, 2), 3);
    QCOMPARE(left, (std::vector<float>{9.0f, 9.0f, -1.0f, 0.5f, 32767.0f / 32768.0f, 9.0f, 9.0f}));
    std::vector<int16_t> right(4, -1);
    int16_t* withoutLeft[] = {nullptr, right.data()};
    QCOMPARE(reader.readSInt16Consecutive(4, withoutLeft), 2); // only two frames are left
    QCOMPARE(right, (std::vector<int16_t>{400, 500, -1, -1}));
}

QTEST_GUILESS_MAIN(TestEAFRead)
#include "tst_EAFRead.moc"
