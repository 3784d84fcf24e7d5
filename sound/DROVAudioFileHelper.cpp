#include "sound/DROVAudioFileHelper.h"

#include "platform/FourCharCode.h"
#include "platform/VectorUnit.h"
#include "services/DROVHelper.h"
#include "sound/EAFWrite.h"
#include "sound/SoundLog.h"

#include <QBuffer>
#include <QImage>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <future>
#include <thread>

namespace {

constexpr float kFramesPerClick = 2205.0f;
constexpr double kSampleRate = 44100.0;
constexpr double kPi = 3.141592653589793;
constexpr float kPhaseReset = 10000.0f;
constexpr double kAmplitude = 35000.0;

float colourSum(const ClickSample& sample) {
    const float r = float(sample[0]);
    const float g = float(sample[1]);
    const float b = float(sample[2]);
    return (r + g) + b;
}

// The samples picture as JPEG, the artwork's encoding; empty when it cannot be encoded.
QByteArray artworkForSamples(const Samples& samples) {
    const QImage picture = DROVHelper::iconImageForSamples(samples, true);
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

int32_t DROVAudioFileHelper::frameCountForClicks(std::size_t count) {
    return int32_t(float(count) * kFramesPerClick);
}

std::vector<float> DROVAudioFileHelper::renderSignal(const Samples& samples) {
    if (samples.empty())
        return {};
    std::vector<float> signal(static_cast<size_t>(frameCountForClicks(samples.size())));
    storePhases(samples, signal);
    storeWaveFromPhases(signal);
    return signal;
}

// The phase of every frame, in place: each depends on the one before, so this runs in order.
void DROVAudioFileHelper::storePhases(const Samples& samples, std::vector<float>& buffer) {
    const int32_t frames = int32_t(buffer.size());
    const int32_t last = int32_t(samples.size()) - 1;
    int32_t next = 0;
    float frequency = 0.0f;
    float phase = 0.0f;
    clearUpperVectorRegisters();
    for (int32_t i = 0; i < frames; ++i) {
        if (float(i) == float(next) * kFramesPerClick) {
            frequency = newFreq(colourSum(samples[size_t(next)]));
            if (next < last)
                ++next;
        }
        const float increment = float(double(frequency + frequency) * kPi / kSampleRate);
        phase += increment;
        if (phase > kPhaseReset)
            phase = 0.0f;
        buffer[size_t(i)] = phase;
    }
}

// sin(phase) x 35000, truncated to a whole number: independent per frame, so the frames are
// shared out among the processor's cores.
void DROVAudioFileHelper::storeWaveFromPhases(std::vector<float>& buffer) {
    const auto render = [&buffer](size_t first, size_t end) {
        clearUpperVectorRegisters();
        for (size_t i = first; i < end; ++i)
            buffer[i] = float(int32_t(std::sin(double(buffer[i])) * kAmplitude));
    };
    constexpr size_t kFramesPerWorker = 1 << 18;
    const size_t workers = std::clamp<size_t>(buffer.size() / kFramesPerWorker, 1,
                                              std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> threads;
    const size_t share = buffer.size() / workers;
    for (size_t w = 1; w < workers; ++w)
        threads.emplace_back(render, w * share, w + 1 == workers ? buffer.size() : (w + 1) * share);
    render(0, share);
    for (std::thread& thread : threads)
        thread.join();
}

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath) {
    if (samples.empty()) {
        qCWarning(lcSound) << "no clicks to write to" << filePath;
        return false;
    }
    const QUrl url = QUrl::fromLocalFile(filePath);
    // The picture is drawn while the sound is rendered and encoded; it goes into the file after.
    std::future<QByteArray> artworkJob =
        std::async(std::launch::async, artworkForSamples, std::cref(samples));
    std::vector<float> signal = renderSignal(samples);

    EAFWrite writer;
    // Failures of the open and the write are printed by the writer itself.
    const OSStatus opened = writer.openFileForWrite(url, kSampleRate, 1, 16, kAudioFileM4AType);
    float* channels[] = {signal.data()};
    const OSStatus written =
        opened == noErr ? writer.writeFloats(int64_t(signal.size()), channels) : opened;
    std::vector<float>().swap(signal);

    const QByteArray artwork = artworkJob.get();
    if (!artwork.isEmpty()) {
        qCInfo(lcSound) << "set data";
        AudioFileID file = writer.audioFileId();
        const OSStatus status = file ? file->setProperty(kAudioFilePropertyAlbumArtwork, artwork)
                                     : kAudioFileNotOpenError;
        if (status == noErr)
            qCInfo(lcSound, "audioErr: %d", int(status));
        else
            qCWarning(lcSound, "audioErr: %d", int(status));
    }
    const OSStatus closed = writer.closeFile();
    return opened == noErr && written == noErr && closed == noErr;
}
