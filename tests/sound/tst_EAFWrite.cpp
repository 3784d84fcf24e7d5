// SPDX-License-Identifier: GPL-3.0-or-later
// The audio file writer, checked through files read back by ffprobe, ffmpeg, libsndfile's
// sndfile-info and AtomicParsley.
#include "sound/AudioTestTools.h"
#include "sound/EAFWrite.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace zwirl;
using audiotest::decodeWithFfmpeg;
using testsupport::runTool;

class TestEAFWrite : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void clipsFloatsInPlace() {
        QTemporaryDir dir;
        std::vector<float> samples{0.5f, 0.999f, 1.0f, 2.0f, -0.5f, -1.0f, -3.0f, 35000, -35000};
        float* channels[] = {samples.data()};
        EAFWrite writer;
        QCOMPARE(writer.openFileForWrite(QUrl::fromLocalFile(dir.filePath("c.wav")), 44100.0, 1, 16,
                                         kAudioFileWAVEType),
                 noErr);
        QCOMPARE(writer.writeFloats(9, channels), noErr);
        QCOMPARE(samples, (std::vector<float>{0.5f, 0.999f, 0.999f, 0.999f, -0.5f, -1.0f, -1.0f,
                                              0.999f, -1.0f}));
        // No array or no frames: -1 and nothing written.
        QCOMPARE(writer.writeFloats(0, channels), -1);
        QCOMPARE(writer.writeFloats(3, nullptr), -1);
        QCOMPARE(writer.writeShorts(0, nullptr), -1);
        writer.closeFile();
        writer.closeFile(); // a second close does nothing
        QCOMPARE(decodeWithFfmpeg(dir.filePath("c.wav")),
                 (std::vector<int16_t>{16384, 32735, 32735, 32735, -16384, -32768, -32768, 32735,
                                       -32768}));
    }

    // Each type code: the file format built for it, the status and the lines on standard
    // error, and the file that results (replacing one that was there).
    void writesEachFileType_data() {
        QTest::addColumn<uint32_t>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("wordLength");
        QTest::addColumn<int>("channels");
        // formatId, formatFlags, framesPerPacket, bitsPerChannel, bytesPerFrame
        QTest::addColumn<QList<uint32_t>>("format");
        QTest::addColumn<QString>("probed"); // ffprobe's format and codec names
        QTest::addColumn<OSStatus>("status");
        QTest::addColumn<QByteArray>("printed"); // by the open and one write
        const auto row = [](const char* title, uint32_t type, const char* name, int wordLength,
                            int channels, QList<uint32_t> format, const char* probed,
                            OSStatus status = noErr, const char* created = nullptr) {
            const QByteArray printed = created ? QByteArray("AudioFileCreate FAILED! ") + created +
                                                     "\nExtAudioFileWrite FAILED! -38 '....'\n"
                                               : QByteArray();
            QTest::newRow(title) << type << QString(name) << wordLength << channels << format
                                 << QString(probed) << status << printed;
        };
        const uint32_t aac = kAudioFormatMPEG4AAC, lpcm = kAudioFormatLinearPCM;
        row("m4af", kAudioFileM4AType, "t.m4a", 16, 1, {aac, 2, 1024, 0, 0},
            "mov,mp4,m4a,3gp,3g2,mj2/aac");
        row("AIFC", kAudioFileAIFCType, "t.aifc", 16, 1, {kAudioFormatAppleIMA4, 0, 1, 0, 0},
            "aiff/adpcm_ima_qt");
        row("AIFF", kAudioFileAIFFType, "t.aiff", 16, 1, {lpcm, 14, 1, 16, 2}, "aiff/pcm_s16be");
        row("AIFF 24-bit stereo, right channel null", kAudioFileAIFFType, "t24.aiff", 24, 2,
            {lpcm, 14, 1, 24, 6}, "aiff/pcm_s24be");
        row("NeXT", kAudioFileNextType, "t.au", 16, 1, {lpcm, 14, 1, 16, 2}, "au/pcm_s16be");
        row("Sd2f", kAudioFileSoundDesigner2Type, "t.sd2", 16, 1, {lpcm, 14, 1, 16, 2}, "");
        row("caff", kAudioFileCAFType, "t.caf", 16, 1, {lpcm, 14, 1, 16, 2}, "caf/pcm_s16be");
        row("WAVE, word length 20", kAudioFileWAVEType, "t.wav", 20, 1, {lpcm, 12, 1, 16, 2},
            "wav/pcm_s16le");
        row("WAVE named .m4a", kAudioFileWAVEType, "wave.m4a", 16, 1, {lpcm, 12, 1, 16, 2},
            "wav/pcm_s16le");
        row("type outside the table", fourCharCode("MPG3"), "x.mp3", 16, 1, {0, 0, 0, 0, 0}, "",
            kAudioFileUnsupportedFileTypeError, "1954115647 'typ?'");
        row("WAVE, word length 64", kAudioFileWAVEType, "w.wav", 64, 1, {lpcm, 12, 1, 64, 8}, "",
            kAudioFileUnsupportedDataFormatError, "1718449215 'fmt?'");
        row("missing folder", kAudioFileM4AType, "missing/x.m4a", 16, 1, {aac, 2, 1024, 0, 0}, "",
            kAudioFileFileNotFoundError, "-43 '....'");
    }
    void writesEachFileType() {
        QFETCH(uint32_t, type);
        QFETCH(QString, name);
        QFETCH(int, wordLength);
        QFETCH(int, channels);
        QFETCH(QList<uint32_t>, format);
        QFETCH(QString, probed);
        QFETCH(OSStatus, status);
        QFETCH(QByteArray, printed);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QFile old(path);
        if (old.open(QIODevice::WriteOnly))
            old.write(QByteArray(1 << 20, 'x'));
        old.close();

        std::vector<float> wave = audiotest::sine(4410);
        float* arrays[] = {wave.data(), nullptr};
        EAFWrite writer;
        OSStatus opened = noErr, written = noErr;
        const QByteArray stderrLines = audiotest::captureStandardError([&] {
            opened = writer.openFileForWrite(QUrl::fromLocalFile(path), 44100.0, channels,
                                             wordLength, type);
            written = writer.writeFloats(4410, arrays);
            writer.closeFile();
        });
        const AudioStreamBasicDescription& f = writer.streamFormat();
        QCOMPARE((QList<uint32_t>{f.mFormatID, f.mFormatFlags, f.mFramesPerPacket,
                                  f.mBitsPerChannel, f.mBytesPerFrame}),
                 format);
        QCOMPARE(f.mBytesPerPacket, f.mBytesPerFrame);
        QCOMPARE(writer.fileType(), format[0] ? type : 0u);
        QCOMPARE(writer.clientFormat().mFormatFlags, 36u);
        QCOMPARE(writer.clientFormat().mChannelsPerFrame, f.mChannelsPerFrame);
        QCOMPARE(opened, status);
        QCOMPARE(written, status == noErr ? noErr : kAudioFileNotOpenError);
        QCOMPARE(stderrLines, printed);
        if (status != noErr)
            return;
        QVERIFY(QFileInfo(path).size() < 40000);
        std::vector<int16_t> expected;
        for (float x : wave)
            for (int c = 0; c < channels; ++c)
                expected.push_back(c == 0 ? int16_t(x * 32768.0f) : 0);
        if (type == kAudioFileSoundDesigner2Type) {
            // The data fork is plain big-endian PCM; the rest is in the resource fork beside it.
            const QByteArray info = runTool("sndfile-info", {path}).out;
            QVERIFY2(info.contains("Sample Rate : 44100") && info.contains("Frames      : 4410"),
                     info.constData());
            QVERIFY(QFileInfo::exists(dir.filePath("._t.sd2")));
            QCOMPARE(decodeWithFfmpeg(path, 0, {"-f", "s16be", "-ar", "44100", "-ac", "1"}),
                     expected);
            return;
        }
        const QJsonObject report = testsupport::probe(path);
        const QJsonObject stream = audiotest::audioStream(path);
        QCOMPARE(report.value("format").toObject().value("format_name").toString() + "/" +
                     stream.value("codec_name").toString(),
                 probed);
        QCOMPARE(stream.value("sample_rate").toString(), QString("44100"));
        QCOMPARE(stream.value("channels").toInt(), channels);
        const std::vector<int16_t> decoded = decodeWithFfmpeg(path);
        if (probed.contains("/pcm_")) {
            QCOMPARE(decoded, expected);
            return;
        }
        // Lossy: the same tone, near enough.
        QVERIFY(decoded.size() >= expected.size());
        double signal = 0, noise = 0;
        for (size_t i = 1024; i < expected.size() - 1024; ++i) {
            signal += double(expected[i]) * expected[i];
            noise += double(expected[i] - decoded[i]) * (expected[i] - decoded[i]);
        }
        QVERIFY2(10 * std::log10(signal / noise) > 20, "the tone did not survive encoding");
    }

    // Beside the status, the log gets the library's own words for a failure.
    void logsTheLibrarysTextOfAFailure() {
        QTemporaryDir dir;
        EAFWrite writer;
        QTest::ignoreMessage(QtWarningMsg, "avio_open: No such file or directory");
        QCOMPARE(writer.openFileForWrite(QUrl::fromLocalFile(dir.filePath("none/x.m4a")), 44100, 1,
                                         16, kAudioFileM4AType),
                 kAudioFileFileNotFoundError);
    }

    void mpeg4LengthIsExactAndArtworkIsEmbedded() {
        QTemporaryDir dir;
        const QString plain = dir.filePath("plain.m4a"), covered = dir.filePath("covered.m4a");
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImage picture(64, 64, QImage::Format_RGB32);
        picture.fill(QColor(200, 40, 90));
        picture.save(&buffer, "JPEG");
        QCOMPARE(audiotest::writeMono(plain, kAudioFileM4AType, audiotest::sine(44144, 0.5, 440)),
                 noErr);
        QCOMPARE(audiotest::writeMono(covered, kAudioFileM4AType, audiotest::sine(44144, 0.5, 440),
                                      jpeg),
                 noErr);
        for (const QString& path : {plain, covered}) {
            const QJsonObject stream = audiotest::audioStream(path);
            QCOMPARE(stream.value("duration_ts").toInt(), 44144);
            QCOMPARE(stream.value("profile").toString(), QString("LC"));
        }
        const QJsonObject tags =
            testsupport::probe(plain).value("format").toObject().value("tags").toObject();
        QCOMPARE(tags.value("major_brand").toString(), QString("M4A "));
        const QByteArray atoms = runTool("AtomicParsley", {covered, "-t"}).out;
        QVERIFY2(atoms.contains("Atom \"covr\" contains: 1 piece of artwork"), atoms.constData());
        QVERIFY(!runTool("AtomicParsley", {plain, "-t"}).out.contains("covr"));
        const QJsonObject art = audiotest::attachedPicture(covered);
        QCOMPARE(art.value("codec_name").toString(), QString("mjpeg"));
        QCOMPARE(decodeWithFfmpeg(covered), decodeWithFfmpeg(plain));

        // Artwork and tags belong to open MPEG-4 files only.
        EAFWrite wave;
        QCOMPARE(wave.setCoverArt(jpeg), kAudioFileNotOpenError);
        QCOMPARE(wave.expectFrames(10), kAudioFileNotOpenError);
        QCOMPARE(wave.openFileForWrite(QUrl::fromLocalFile(dir.filePath("a.wav")), 44100, 1, 16,
                                       kAudioFileWAVEType),
                 noErr);
        QCOMPARE(wave.setCoverArt(jpeg), kAudioFileUnsupportedDataFormatError);
        QCOMPARE(wave.setTags({"title", {}, {}, {}}), kAudioFileUnsupportedDataFormatError);
    }
};

QTEST_GUILESS_MAIN(TestEAFWrite)
#include "tst_EAFWrite.moc"
