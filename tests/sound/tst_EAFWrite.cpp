// The audio file writer, checked through files read back by ffprobe, ffmpeg, sox, libsndfile's
// sndfile-info and AtomicParsley.
#include "sound/AudioTestTools.h"
#include "support/TestSupport.h"

#include "sound/EAFWrite.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace zwirl;

using audiotest::audioStream;
using audiotest::decodeWithFfmpeg;
using testsupport::runTool;

namespace {

QUrl urlFor(const QTemporaryDir& dir, const QString& name) {
    return QUrl::fromLocalFile(dir.filePath(name));
}

// A 1 kHz sine at half scale, as floats.
std::vector<float> sine(int frames, double amplitude = 0.5, double hz = 1000.0) {
    std::vector<float> wave(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        wave[size_t(i)] = float(amplitude * std::sin(2 * M_PI * hz * i / 44100.0));
    return wave;
}

OSStatus writeMono(const QUrl& url, uint32_t type, std::vector<float> wave, int wordLength = 16,
                   const QByteArray& artwork = {}) {
    EAFWrite writer;
    OSStatus status = writer.openFileForWrite(url, 44100.0, 1, wordLength, type);
    if (status != noErr)
        return status;
    float* channels[] = {wave.data()};
    status = writer.writeFloats(int64_t(wave.size()), channels);
    if (status == noErr && !artwork.isEmpty())
        status = zwirl::statusFor(writer.audioFileId()->setCoverArt(artwork));
    return status;
}

QByteArray jpegPicture() {
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(QColor(200, 40, 90));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    return data;
}

} // namespace

class TestEAFWrite : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void clipsFloatsInPlaceAndConvertsToSixteenBits();
    void nullChannelIsSilentAndEmptyWritesFail();
    void wordLengthsRoundDownToWholeBytes();
    void replacesAnExistingFile();
    void writesEveryFileType_data();
    void writesEveryFileType();
    void soundDesignerFileHasItsResourceFork();
    void mpeg4LengthIsExactAndArtworkIsEmbedded();
    void unsupportedTypeFailsInFileCreation();
    void missingFolderFailsAndLaterCallsAreHarmless();
};

void TestEAFWrite::clipsFloatsInPlaceAndConvertsToSixteenBits() {
    QTemporaryDir dir;
    std::vector<float> samples{0.5f, 0.999f, 1.0f, 2.0f, -0.5f, -1.0f, -3.0f, 35000.0f, -35000.0f};
    EAFWrite writer;
    QCOMPARE(writer.openFileForWrite(urlFor(dir, "clip.wav"), 44100.0, 1, 16, kAudioFileWAVEType),
             noErr);
    float* channels[] = {samples.data()};
    QCOMPARE(writer.writeFloats(int64_t(samples.size()), channels), noErr);
    writer.closeFile();
    writer.closeFile(); // a second close does nothing

    const std::vector<float> clipped{0.5f,  0.999f, 0.999f, 0.999f, -0.5f,
                                     -1.0f, -1.0f,  0.999f, -1.0f};
    QCOMPARE(samples, clipped);
    const std::vector<int16_t> expected{16384,  32735,  32735, 32735, -16384,
                                        -32768, -32768, 32735, -32768};
    QCOMPARE(decodeWithFfmpeg(dir.filePath("clip.wav")), expected);

    // 16-bit samples go through unchanged, and leave the caller's array alone.
    std::vector<int16_t> shorts{1, -1, 32767, -32768, 1234};
    const std::vector<int16_t> original = shorts;
    EAFWrite shortWriter;
    QCOMPARE(
        shortWriter.openFileForWrite(urlFor(dir, "s.aiff"), 44100.0, 1, 16, kAudioFileAIFFType),
        noErr);
    int16_t* shortChannels[] = {shorts.data()};
    QCOMPARE(shortWriter.writeShorts(int64_t(shorts.size()), shortChannels), noErr);
    shortWriter.closeFile();
    QCOMPARE(shorts, original);
    QCOMPARE(decodeWithFfmpeg(dir.filePath("s.aiff")), original);
}

void TestEAFWrite::nullChannelIsSilentAndEmptyWritesFail() {
    QTemporaryDir dir;
    std::vector<float> left{0.25f, -0.25f, 0.5f};
    float* channels[] = {left.data(), nullptr};
    {
        EAFWrite writer;
        QCOMPARE(writer.openFileForWrite(urlFor(dir, "st.wav"), 44100.0, 2, 16, kAudioFileWAVEType),
                 noErr);
        QCOMPARE(writer.writeFloats(0, channels), -1);
        QCOMPARE(writer.writeFloats(3, nullptr), -1);
        QCOMPARE(writer.writeShorts(0, nullptr), -1);
        QCOMPARE(writer.writeFloats(3, channels), noErr);
    } // destruction closes the file
    const std::vector<int16_t> expected{8192, 0, -8192, 0, 16384, 0};
    QCOMPARE(decodeWithFfmpeg(dir.filePath("st.wav")), expected);

    EAFWrite empty;
    QCOMPARE(empty.openFileForWrite(urlFor(dir, "empty.wav"), 44100.0, 1, 16, kAudioFileWAVEType),
             noErr);
    QCOMPARE(empty.writeFloats(0, channels), -1);
    empty.closeFile();
    const auto info = runTool("sox", {"--i", "-s", dir.filePath("empty.wav")});
    QCOMPARE(info.out.trimmed(), QByteArray("0"));
}

void TestEAFWrite::wordLengthsRoundDownToWholeBytes() {
    QTemporaryDir dir;
    EAFWrite twenty;
    QCOMPARE(twenty.openFileForWrite(urlFor(dir, "w20.wav"), 44100.0, 1, 20, kAudioFileWAVEType),
             noErr);
    QCOMPARE(twenty.streamFormat().mBitsPerChannel, 16u);
    QCOMPARE(twenty.streamFormat().mBytesPerFrame, 2u);
    std::vector<float> wave = sine(441);
    float* mono[] = {wave.data()};
    QCOMPARE(twenty.writeFloats(441, mono), noErr);
    twenty.closeFile();
    QCOMPARE(runTool("sox", {"--i", "-b", dir.filePath("w20.wav")}).out.trimmed(),
             QByteArray("16"));

    EAFWrite stereo24;
    QCOMPARE(stereo24.openFileForWrite(urlFor(dir, "w24.aiff"), 48000.0, 2, 24, kAudioFileAIFFType),
             noErr);
    QCOMPARE(stereo24.streamFormat().mBitsPerChannel, 24u);
    QCOMPARE(stereo24.streamFormat().mBytesPerFrame, 6u);
    QCOMPARE(stereo24.streamFormat().mFormatFlags, 14u);
    QCOMPARE(stereo24.clientFormat().mFormatFlags, 36u);
    QCOMPARE(stereo24.clientFormat().mChannelsPerFrame, 2u);
    std::vector<int16_t> left{100, -200, 300}, right{-7, 7, 32767};
    int16_t* channels[] = {left.data(), right.data()};
    QCOMPARE(stereo24.writeShorts(3, channels), noErr);
    stereo24.closeFile();
    QCOMPARE(runTool("sox", {"--i", "-b", dir.filePath("w24.aiff")}).out.trimmed(),
             QByteArray("24"));
    QCOMPARE(runTool("sox", {"--i", "-r", dir.filePath("w24.aiff")}).out.trimmed(),
             QByteArray("48000"));
    const std::vector<int16_t> expected{100, -7, -200, 7, 300, 32767};
    QCOMPARE(decodeWithFfmpeg(dir.filePath("w24.aiff")), expected);
}

void TestEAFWrite::replacesAnExistingFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("again.caf");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(1 << 20, 'x'));
    old.close();
    QCOMPARE(writeMono(QUrl::fromLocalFile(path), kAudioFileCAFType, sine(4410)), noErr);
    QVERIFY(QFileInfo(path).size() < 20000);
    QCOMPARE(audioStream(path).value("codec_name").toString(), QString("pcm_s16be"));
    QCOMPARE(decodeWithFfmpeg(path).size(), size_t(4410));
}

void TestEAFWrite::writesEveryFileType_data() {
    QTest::addColumn<uint32_t>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<bool>("pcm");
    QTest::newRow("m4af") << kAudioFileM4AType << "t.m4a"
                          << "mov,mp4,m4a,3gp,3g2,mj2"
                          << "aac" << false;
    QTest::newRow("AIFF") << kAudioFileAIFFType << "t.aiff"
                          << "aiff"
                          << "pcm_s16be" << true;
    QTest::newRow("AIFC") << kAudioFileAIFCType << "t.aifc"
                          << "aiff"
                          << "adpcm_ima_qt" << false;
    QTest::newRow("WAVE") << kAudioFileWAVEType << "t.wav"
                          << "wav"
                          << "pcm_s16le" << true;
    QTest::newRow("caff") << kAudioFileCAFType << "t.caf"
                          << "caf"
                          << "pcm_s16be" << true;
    QTest::newRow("NeXT") << kAudioFileNextType << "t.au"
                          << "au"
                          << "pcm_s16be" << true;
    // The container follows the type code, not the name.
    QTest::newRow("WAVE named .m4a") << kAudioFileWAVEType << "wave.m4a"
                                     << "wav"
                                     << "pcm_s16le" << true;
}

void TestEAFWrite::writesEveryFileType() {
    QFETCH(uint32_t, type);
    QFETCH(QString, name);
    QFETCH(QString, format);
    QFETCH(QString, codec);
    QFETCH(bool, pcm);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const std::vector<float> wave = sine(44100);
    QCOMPARE(writeMono(QUrl::fromLocalFile(path), type, wave), noErr);

    const QJsonObject probed = testsupport::probe(path);
    QCOMPARE(probed.value("format").toObject().value("format_name").toString(), format);
    const QJsonObject stream = audioStream(path);
    QCOMPARE(stream.value("codec_name").toString(), codec);
    QCOMPARE(stream.value("sample_rate").toString(), QString("44100"));
    QCOMPARE(stream.value("channels").toInt(), 1);

    const std::vector<int16_t> decoded = decodeWithFfmpeg(path);
    QVERIFY(decoded.size() >= wave.size());
    if (pcm) {
        QCOMPARE(decoded.size(), wave.size());
        for (size_t i = 0; i < wave.size(); ++i)
            QCOMPARE(decoded[i], int16_t(wave[i] * 32768.0f));
        QCOMPARE(runTool("sox", {"--i", "-s", path}).out.trimmed(), QByteArray("44100"));
        QCOMPARE(runTool("sox", {"--i", "-b", path}).out.trimmed(), QByteArray("16"));
    } else {
        // Lossy: the same tone, near enough.
        double signal = 0, noise = 0;
        for (size_t i = 2048; i < wave.size() - 2048; ++i) {
            const double x = wave[i] * 32768.0;
            signal += x * x;
            noise += (x - decoded[i]) * (x - decoded[i]);
        }
        QVERIFY2(10 * std::log10(signal / noise) > 20, "the tone did not survive encoding");
    }
}

void TestEAFWrite::soundDesignerFileHasItsResourceFork() {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.sd2");
    const std::vector<float> wave = sine(4410);
    QCOMPARE(writeMono(QUrl::fromLocalFile(path), kAudioFileSoundDesigner2Type, wave), noErr);
    const QByteArray info = runTool("sndfile-info", {path}).out;
    QVERIFY2(info.contains("Sample Rate : 44100"), info.constData());
    QVERIFY2(info.contains("Frames      : 4410"), info.constData());
    QVERIFY(QFileInfo::exists(dir.filePath("._t.sd2")));
    // The data fork is plain big-endian 16-bit PCM.
    const QJsonObject stream = audioStream(path);
    QVERIFY(stream.isEmpty()); // ffprobe cannot tell the format without the resource fork
    const std::vector<int16_t> decoded =
        decodeWithFfmpeg(path, 0, 0, {"-f", "s16be", "-ar", "44100", "-ac", "1"});
    QCOMPARE(decoded.size(), wave.size());
    QCOMPARE(decoded[7], int16_t(wave[7] * 32768.0f));
}

void TestEAFWrite::mpeg4LengthIsExactAndArtworkIsEmbedded() {
    QTemporaryDir dir;
    const std::vector<float> wave = sine(44144, 0.5, 440.0);
    const QString plain = dir.filePath("plain.m4a");
    const QString covered = dir.filePath("covered.m4a");
    const QByteArray jpeg = jpegPicture();
    QCOMPARE(writeMono(QUrl::fromLocalFile(plain), kAudioFileM4AType, wave), noErr);
    QCOMPARE(writeMono(QUrl::fromLocalFile(covered), kAudioFileM4AType, wave, 16, jpeg), noErr);

    for (const QString& path : {plain, covered}) {
        const QJsonObject stream = audioStream(path);
        QCOMPARE(stream.value("duration_ts").toInt(), 44144);
        QCOMPARE(stream.value("profile").toString(), QString("LC"));
    }
    QCOMPARE(testsupport::probe(plain).value("format").toObject().value("tags").toObject().value(
                 "major_brand"),
             QJsonValue("M4A "));
    const QByteArray atoms = runTool("AtomicParsley", {covered, "-t"}).out;
    QVERIFY2(atoms.contains("Atom \"covr\" contains: 1 piece of artwork"), atoms.constData());
    QVERIFY(!runTool("AtomicParsley", {plain, "-t"}).out.contains("covr"));

    const QByteArray attached =
        runTool("ffprobe",
                {"-v", "error", "-select_streams", "v", "-show_entries",
                 "stream=codec_name:stream_disposition=attached_pic", "-of", "csv=p=0", covered})
            .out;
    QCOMPARE(attached.trimmed(), QByteArray("mjpeg,1"));
    QCOMPARE(decodeWithFfmpeg(covered), decodeWithFfmpeg(plain));

    // Artwork belongs to MPEG-4 files only.
    EAFWrite wave16;
    QCOMPARE(wave16.openFileForWrite(urlFor(dir, "a.wav"), 44100, 1, 16, kAudioFileWAVEType),
             noErr);
    QCOMPARE(zwirl::statusFor(wave16.audioFileId()->setCoverArt(jpeg)),
             kAudioFileUnsupportedDataFormatError);
}

void TestEAFWrite::unsupportedTypeFailsInFileCreation() {
    QTemporaryDir dir;
    EAFWrite writer;
    OSStatus status = noErr;
    const QByteArray printed = audiotest::captureStandardError([&] {
        status =
            writer.openFileForWrite(urlFor(dir, "x.mp3"), 44100.0, 1, 16, fourCharCode("MPG3"));
    });
    QCOMPARE(status, kAudioFileUnsupportedFileTypeError);
    QCOMPARE(printed, QByteArray("AudioFileCreate FAILED! 1954115647 'typ?'\n"));
    QCOMPARE(writer.streamFormat().mFormatID, 0u);
    QCOMPARE(writer.fileType(), 0u);
    QVERIFY(!QFileInfo::exists(dir.filePath("x.mp3")));

    // A word length outside linear PCM's reach is refused by the file, not silently changed.
    EAFWrite tooWide;
    const QByteArray wide = audiotest::captureStandardError([&] {
        status = tooWide.openFileForWrite(urlFor(dir, "w.wav"), 44100.0, 1, 64, kAudioFileWAVEType);
    });
    QCOMPARE(status, kAudioFileUnsupportedDataFormatError);
    QCOMPARE(wide, QByteArray("AudioFileCreate FAILED! 1718449215 'fmt?'\n"));
}

void TestEAFWrite::missingFolderFailsAndLaterCallsAreHarmless() {
    QTemporaryDir dir;
    EAFWrite writer;
    OSStatus status = noErr;
    std::vector<float> wave = sine(100);
    float* channels[] = {wave.data()};
    const QByteArray printed = audiotest::captureStandardError([&] {
        status = writer.openFileForWrite(urlFor(dir, "missing/x.m4a"), 44100.0, 1, 16,
                                         kAudioFileM4AType);
        QCOMPARE(writer.writeFloats(100, channels), kAudioFileNotOpenError);
    });
    QCOMPARE(status, kAudioFileFileNotFoundError);
    QCOMPARE(printed, QByteArray("AudioFileCreate FAILED! -43 '....'\n"
                                 "ExtAudioFileWrite FAILED! -38 '....'\n"));
    QVERIFY(writer.audioFileId() == nullptr);
    writer.closeFile();
    writer.closeFile();
}

QTEST_GUILESS_MAIN(TestEAFWrite)
#include "tst_EAFWrite.moc"
