#include "sound/DROVAudioFileHelper.h"

#include "services/DROVHelper.h"
#include "sound/ClickToneRenderer.h"
#include "sound/EAFWrite.h"
#include "sound/SoundLog.h"

#include <QBuffer>
#include <QUrl>
#include <vector>

namespace zwirl {

namespace {

// Frames rendered and handed to the writer at a time: the tone is never held whole.
constexpr int64_t kSliceFrames = 8192;

QByteArray jpegOf(const QImage& picture) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (picture.isNull() || !picture.save(&buffer, "JPEG"))
        return {};
    return data;
}

} // namespace

float DROVAudioFileHelper::newFreq(float s) {
    // Two single-precision multiplications, each rounded, as the live tone has always had it.
    volatile float hundredfold = s * 100.0f;
    volatile float thousandfold = hundredfold * 10.0f;
    return thousandfold + 50.0f;
}

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath) {
    if (samples.empty()) {
        qCWarning(lcSound) << "no clicks to write to" << filePath;
        return false;
    }
    return writeSamplesToFile(samples, filePath, DROVHelper::iconImageForSamples(samples, true));
}

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath,
                                             const QImage& artwork) {
    if (samples.empty()) {
        qCWarning(lcSound) << "no clicks to write to" << filePath;
        return false;
    }
    EAFWrite writer;
    // Failures of the open and the writes are printed by the writer itself.
    OSStatus status =
        writer.openFileForWrite(QUrl::fromLocalFile(filePath), 44100.0, 1, 16, kAudioFileM4AType);
    ClickToneRenderer renderer(samples);
    std::vector<float> slice(static_cast<size_t>(kSliceFrames));
    float* channels[] = {slice.data()};
    while (status == noErr && renderer.framesLeft() > 0)
        status = writer.writeFloats(renderer.render(slice.data(), kSliceFrames), channels);

    const QByteArray jpeg = jpegOf(artwork);
    if (!jpeg.isEmpty()) {
        qCInfo(lcSound) << "set data";
        media::AudioFileWriter* file = writer.audioFileId();
        const OSStatus set = file ? statusFor(file->setCoverArt(jpeg)) : kAudioFileNotOpenError;
        if (set == noErr)
            qCInfo(lcSound, "audioErr: %d", int(set));
        else
            qCWarning(lcSound, "audioErr: %d", int(set));
    }
    const OSStatus closed = writer.closeFile();
    return status == noErr && closed == noErr;
}

} // namespace zwirl
