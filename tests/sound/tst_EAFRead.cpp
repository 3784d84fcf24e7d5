// SPDX-License-Identifier: GPL-3.0-or-later
// The audio file reader on files made by sox, by the ffmpeg command-line tool and by our own
// writer, at other rates and channel counts.
#include "sound/AudioTestTools.h"
#include "sound/EAFRead.h"
#include "sound/EAFWrite.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <random>
#include <sys/stat.h>
#include <thread>

using namespace zwirl;

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

// The pitch of `count` samples from `first`, as if they were at 44100 Hz.
double pitchOf(const std::vector<int16_t>& samples, std::size_t first, std::size_t count) {
    const auto from = samples.begin() + long(first);
    return testsupport::hear(std::vector<float>(from, from + long(count))).pitch;
}

// Ends the test program when a call does not come back: a hang fails the test instead of
// stalling the suite.
class Watchdog {
public:
    explicit Watchdog(const QString& what)
        : m_thread([this, what] {
              std::unique_lock lock(m_mutex);
              if (!m_stopped.wait_for(lock, std::chrono::seconds(30), [this] { return m_done; }))
                  qFatal("%s did not come back", qPrintable(what));
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_stopped.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_done = false;
    std::thread m_thread;
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

// A 16-bit PCM WAVE file of `frames` frames of a ramp whose header claims `rate`.
QByteArray waveClaiming(uint32_t rate, uint16_t channels, uint32_t frames) {
    const uint32_t bytes = frames * channels * 2;
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << uint32_t(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << uint32_t(16) << uint16_t(1) << channels << rate << uint32_t(rate * channels * 2)
        << uint16_t(channels * 2) << uint16_t(16);
    out.writeRawData("data", 4);
    out << bytes;
    for (uint32_t i = 0; i < frames * channels; ++i)
        out << int16_t(i * 7);
    return data;
}

} // namespace

class TestEAFRead : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const auto make = [](const QString& program, const QStringList& args) {
            return testsupport::runTool(program, args).exitCode == 0;
        };
        QVERIFY(make("sox", {"-n", "-r", "22050", "-c", "2", "-b", "16", m_soxStereo, "synth", "1",
                             "sine", "440", "sine", "660"}));
        QVERIFY(make("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", m_soxMono, "synth", "1",
                             "sine", "1000", "vol", "0.5"}));
        // A sine from ffmpeg's generator, cut to `frames`, with the options that follow.
        const auto generate = [&](const QString& sine, int frames, const QString& path,
                                  const QStringList& options = {}) {
            return make("ffmpeg",
                        QStringList{"-v", "error", "-nostdin", "-f", "lavfi", "-i", sine, "-af",
                                    QString("atrim=end_sample=%1,volume=4").arg(frames)} +
                            options + QStringList{path});
        };
        QVERIFY(generate("sine=f=700:r=48000", 24000, m_aac,
                         {"-ac", "2", "-c:a", "aac", "-aac_pns", "0"}));
        QVERIFY(generate("sine=f=300:r=32000", 1001, m_flac));
        // Exactly one second each; both codecs put priming before the sound and pad after it.
        QVERIFY(generate("sine=f=440:r=44100", 44100, m_mp3));
        QVERIFY(generate("sine=f=440:r=48000", 48000, m_opus));
        QCOMPARE(
            audiotest::writeMono(m_ownM4a, kAudioFileM4AType, audiotest::sine(30000, 0.6, 523.0)),
            noErr);
    }

    void withoutAFileQueriesAnswerZeroAndReadsMinusOne() {
        EAFRead reader;
        const auto checkEmpty = [&reader] {
            QCOMPARE(reader.sampleRate() + reader.fileSampleRate(), 0.0);
            QCOMPARE(reader.tell() + reader.fileNumFrames(), int64_t(0));
            float buffer[16];
            float* floats[] = {buffer};
            int16_t* ints[] = {reinterpret_cast<int16_t*>(buffer)};
            QCOMPARE(reader.readFloatsConsecutive(16, floats), -1);
            QCOMPARE(reader.readSInt16Consecutive(16, ints, 0), -1);
        };
        QCOMPARE(reader.rateRatio(), 1.0);
        checkEmpty();
        QCOMPARE(reader.seekToPercent(50.0), noErr);
        QVERIFY(!reader.isSeeking());
        int64_t frames = 16;
        OSStatus error = noErr;
        QVERIFY(reader.copyFrames(frames, error).empty());
        QCOMPARE(error, kAudioFileNotOpenError);
        // Once a file has been open and closed; after refused opens.
        QCOMPARE(reader.openFileForRead(url(m_soxMono), -1.0, 1), noErr);
        QCOMPARE(reader.closeFile(), 0);
        checkEmpty();
        QCOMPARE(reader.openFileForRead(url(m_soxMono), 0.0, 1), kAudioFileParamError);
        checkEmpty();
        QCOMPARE(reader.openFileForRead(url(m_dir.filePath("none.wav")), 44100.0, 1),
                 kAudioFileFileNotFoundError);
        checkEmpty();
        QFile text(m_dir.filePath("text.wav"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is not audio at all, only a few words of text");
        text.close();
        QCOMPARE(reader.openFileForRead(url(text.fileName()), 44100.0, 1),
                 kAudioFileInvalidFileError);
    }

    void convertsRateAndChannels() {
        EAFRead half;
        QCOMPARE(half.openFileForRead(url(m_soxMono), 22050.0, 1), noErr);
        QCOMPARE(half.rateRatio(), 0.5);
        QCOMPARE(half.fileSampleRate(), 44100.0);
        QCOMPARE(half.fileNumFrames(), int64_t(22050));
        int64_t frames = 1000;
        OSStatus error = noErr;
        QCOMPARE(half.copyFrames(frames, error).size(), size_t(2000)); // sized for the ratio
        QCOMPARE(frames, int64_t(1000));
        half.seekToStart();
        const std::vector<int16_t> halved = readToEnd(half, 1, 1000);
        QCOMPARE(halved.size(), size_t(22050));
        const double pitch = pitchOf(halved, 1000, 20000); // 1000 Hz at half the rate
        QVERIFY2(std::abs(pitch - 2000.0) < 2.0, qPrintable(QString::number(pitch)));

        EAFRead stereo; // mono to stereo: both channels the same
        QCOMPARE(stereo.openFileForRead(url(m_soxMono), -1, 2), noErr);
        const std::vector<int16_t> both = readToEnd(stereo, 2);
        QCOMPARE(both.size(), size_t(88200));
        for (size_t i = 0; i < both.size(); i += 2)
            QCOMPARE(both[i], both[i + 1]);

        EAFRead down; // stereo AAC at 48 kHz to mono at 44.1 kHz
        QCOMPARE(down.openFileForRead(url(m_aac), 44100.0, 1), noErr);
        QCOMPARE(down.fileNumFrames(), int64_t(22050));
        const std::vector<int16_t> mono = readToEnd(down, 1);
        QCOMPARE(mono.size(), size_t(22050));
        const double tone = pitchOf(mono, 2000, 18000);
        QVERIFY2(std::abs(tone - 700.0) < 1.0, qPrintable(QString::number(tone)));
    }

    void deliversTheRealLengthWithoutPrimingOrPadding_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<int>("channels");
        QTest::newRow("ffmpeg aac") << m_aac << qint64(24000) << 2;
        QTest::newRow("own aac") << m_ownM4a << qint64(30000) << 1;
        QTest::newRow("mp3") << m_mp3 << qint64(44100) << 1;
        QTest::newRow("opus") << m_opus << qint64(48000) << 1;
        QTest::newRow("flac") << m_flac << qint64(1001) << 1;
        QTest::newRow("sox wave") << m_soxStereo << qint64(22050) << 2;
    }
    void deliversTheRealLengthWithoutPrimingOrPadding() {
        QFETCH(QString, path);
        QFETCH(qint64, frames);
        QFETCH(int, channels);
        EAFRead reader; // at the file's own rate
        QCOMPARE(reader.openFileForRead(url(path), -1.0, channels), noErr);
        QCOMPARE(reader.rateRatio(), 1.0);
        QCOMPARE(reader.sampleRate(), reader.fileSampleRate());
        QCOMPARE(reader.fileNumFrames(), frames);
        const std::vector<int16_t> all = readToEnd(reader, channels, 1000);
        QCOMPARE(qint64(all.size()), frames * channels);
        QCOMPARE(reader.tell(), frames);
        // The start is the stream's first real frame: ffmpeg's own decode starts there too.
        const std::vector<int16_t> reference = audiotest::decodeWithFfmpeg(path);
        QVERIFY(reference.size() >= all.size());
        for (size_t i = 0; i < all.size(); ++i)
            QVERIFY2(std::abs(all[i] - reference[i]) <= 1, qPrintable(QString::number(i)));
    }

    // A cut-off MPEG-4 file is as long as the audio that decodes, not as long as its index says.
    void cutOffM4aIsAsLongAsWhatDecodes() {
        const QByteArray whole = contents(m_ownM4a);
        const QString path =
            writeFile(m_dir.filePath("cut.m4a"), whole.left(whole.size() * 9 / 10));
        EAFRead reader;
        QCOMPARE(reader.openFileForRead(url(path), -1.0, 1), noErr);
        QVERIFY(reader.fileNumFrames() > 0 && reader.fileNumFrames() < 30000);
        QCOMPARE(qint64(readToEnd(reader, 1, 1000).size()), reader.fileNumFrames());
    }

    void seeksByPercentage() {
        EAFRead reader;
        QCOMPARE(reader.openFileForRead(url(m_flac), -1.0, 1), noErr);
        QCOMPARE(reader.seekToPercent(50.0), noErr);
        QCOMPARE(reader.tell(), int64_t(500));
        QVERIFY(!reader.isSeeking());
        int16_t buffer[64];
        int16_t* channels[] = {buffer};
        for (double beyond : {100.0, 250.0}) {
            QCOMPARE(reader.seekToPercent(beyond), noErr);
            QCOMPARE(reader.tell(), int64_t(1000));
            QCOMPARE(reader.readSInt16Consecutive(64, channels), 1); // the last frame only
            QCOMPARE(reader.readSInt16Consecutive(64, channels), 0);
        }
        reader.seekToStart();
        QCOMPARE(reader.tell(), int64_t(0));
        QCOMPARE(reader.readSInt16Consecutive(64, channels), 64);
        QCOMPARE(reader.tell(), int64_t(64));
    }

    void seeksLandOnTheExactFrame_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("own aac") << m_ownM4a << -1.0 << 1;
        QTest::newRow("ffmpeg aac") << m_aac << -1.0 << 2;
        QTest::newRow("ffmpeg aac resampled") << m_aac << 44100.0 << 2;
        QTest::newRow("sox wave resampled") << m_soxStereo << 48000.0 << 1;
        QTest::newRow("mp3") << m_mp3 << -1.0 << 1;
        QTest::newRow("opus resampled") << m_opus << 44100.0 << 1;
    }
    void seeksLandOnTheExactFrame() {
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
            QVERIFY2(std::equal(block.begin(), block.begin() + frames * channels,
                                all.begin() + at * channels),
                     qPrintable(QString("at %1%").arg(percent)));
        }
    }

    // What is not a regular file, damaged files and streams that change their form part-way:
    // each open and read comes back, with an error status or no more frames than the length.
    void damagedInputsEndWithAnErrorOrAShortRead_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("open");       // -1: refused, 1: opens, 0: either
        QTest::addColumn<qint64>("atLeast"); // frames delivered at the least once open
        const auto made = [this](const QString& name, const QString& sine,
                                 const QStringList& options) {
            const QString path = m_dir.filePath(name);
            return testsupport::runTool("ffmpeg", QStringList{"-v", "error", "-nostdin", "-f",
                                                              "lavfi", "-i", sine, "-t", "0.5"} +
                                                      options + QStringList{path})
                               .exitCode == 0
                       ? contents(path)
                       : QByteArray();
        };
        const QByteArray stereo = made("stereo.mp3", "sine=f=440:r=44100", {"-ac", "2"});
        const QByteArray mono = made("mono.mp3", "sine=f=660:r=44100", {"-ac", "1"});
        const QByteArray slower = made("slower.mp3", "sine=f=660:r=22050", {"-ac", "1"});
        const QByteArray adts = made("mono.aac", "sine=f=500:r=44100", {"-ac", "1", "-c:a", "aac"});
        QVERIFY(!stereo.isEmpty() && !mono.isEmpty() && !slower.isEmpty() && !adts.isEmpty());
        // Every 61st byte past the headers with one bit flipped, the same each run.
        const auto flipped = [](QByteArray data) {
            std::mt19937 random(7);
            for (qsizetype i = 64; i < data.size(); i += 61)
                data[i] = char(data[i] ^ (1 << (random() % 8)));
            return data;
        };
        const QString fifo = m_dir.filePath("fifo.wav");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const auto row = [this](const char* name, const QByteArray& data, double rate, int open,
                                qint64 atLeast = 0) {
            QTest::newRow(name) << writeFile(m_dir.filePath(name), data) << rate << open << atLeast;
        };
        QTest::newRow("fifo") << fifo << 44100.0 << -1 << qint64(0);
        QTest::newRow("directory") << m_dir.path() << 44100.0 << -1 << qint64(0);
        QTest::newRow("/dev/zero") << "/dev/zero" << 44100.0 << -1 << qint64(0);
        QTest::newRow("/dev/urandom") << "/dev/urandom" << -1.0 << -1 << qint64(0);
        row("absurd header rate", waveClaiming(8388608, 1, 44100), 22050.0, -1);
        row("truncated m4a", contents(m_aac).left(contents(m_aac).size() * 2 / 3), 44100.0, 0);
        row("truncated mp3", stereo.left(stereo.size() / 3), 22050.0, 1);
        row("bit-flipped mono adts", flipped(adts), 48000.0, 0);
        row("bit-flipped mp3", flipped(stereo + mono), -1.0, 0);
        // Both parts are delivered: the converter is made anew for the second.
        row("stereo then mono", stereo + mono, 44100.0, 1, 30000);
        row("mono then stereo", mono + stereo, 32000.0, 1, 20000);
        row("44.1 then 22.05 kHz", stereo + slower, 44100.0, 1, 30000);
    }
    void damagedInputsEndWithAnErrorOrAShortRead() {
        QFETCH(QString, path);
        QFETCH(double, rate);
        QFETCH(int, open);
        QFETCH(qint64, atLeast);
        QVERIFY(!path.isEmpty());
        const Watchdog watchdog(QTest::currentDataTag());
        EAFRead reader;
        const OSStatus opened = reader.openFileForRead(url(path), rate, 2);
        if (open != 0)
            QCOMPARE(opened == noErr, open > 0);
        if (opened != noErr)
            return;
        int64_t delivered = 0;
        OSStatus error = noErr;
        for (int64_t frames = 1; error == noErr && frames > 0; delivered += frames) {
            frames = 4096;
            reader.copyFrames(frames, error);
        }
        QVERIFY2(delivered <= reader.fileNumFrames(), qPrintable(QString::number(delivered)));
        QVERIFY2(delivered >= atLeast, qPrintable(QString::number(delivered)));
        // A seek into the stream comes back too, and so does the read after it.
        reader.seekToPercent(50.0);
        int64_t frames = 4096;
        reader.copyFrames(frames, error);
        QVERIFY(reader.tell() <= reader.fileNumFrames());
    }

    void convertsSamplesToFloatsAndSkipsNullChannels() {
        const QString path = m_dir.filePath("values.wav");
        {
            std::vector<int16_t> left{-32768, 16384, 32767, 0, 1}, right{100, 200, 300, 400, 500};
            int16_t* data[] = {left.data(), right.data()};
            EAFWrite writer;
            QCOMPARE(writer.openFileForWrite(url(path), 8000.0, 2, 16, kAudioFileWAVEType), noErr);
            QCOMPARE(writer.writeShorts(5, data), noErr); // unchanged, in and out
            QCOMPARE(left, (std::vector<int16_t>{-32768, 16384, 32767, 0, 1}));
        }
        EAFRead reader;
        QCOMPARE(reader.openFileForRead(url(path), -1.0, 2), noErr);
        std::vector<float> left(7, 9.0f);
        float* withoutRight[] = {left.data(), nullptr};
        QCOMPARE(reader.readFloatsConsecutive(3, withoutRight, 2), 3);
        QCOMPARE(left, (std::vector<float>{9, 9, -1.0f, 0.5f, 32767.0f / 32768.0f, 9, 9}));
        std::vector<int16_t> right(4, -1);
        int16_t* withoutLeft[] = {nullptr, right.data()};
        QCOMPARE(reader.readSInt16Consecutive(4, withoutLeft), 2); // only two frames are left
        QCOMPARE(right, (std::vector<int16_t>{400, 500, -1, -1}));
    }

private:
    QTemporaryDir m_dir;
    const QString m_soxStereo = m_dir.filePath("sox_stereo.wav"); // 22050 Hz, 2 ch, 22050 frames
    const QString m_soxMono = m_dir.filePath("sox_mono.aiff");    // 44100 Hz, 1 ch, 44100 frames
    const QString m_aac = m_dir.filePath("ffmpeg.m4a");           // 48000 Hz, 2 ch, 24000 frames
    const QString m_flac = m_dir.filePath("ffmpeg.flac");         // 32000 Hz, 1 ch, 1001 frames
    const QString m_ownM4a = m_dir.filePath("own.m4a");           // 44100 Hz, 1 ch, 30000 frames
    const QString m_mp3 = m_dir.filePath("ffmpeg.mp3");           // 44100 Hz, LAME
    const QString m_opus = m_dir.filePath("ffmpeg.opus");         // 48000 Hz, Opus in Ogg
};

QTEST_GUILESS_MAIN(TestEAFRead)
#include "tst_EAFRead.moc"
