#include "sound/DROVTonePlayer.h"

#include "sound/SoundLog.h"

#include <QString>

#include <cmath>
#include <source_location>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kAmplitude = 0.25;
constexpr double kDefaultFrequency = 300.0;
constexpr double kSampleRate = 44100.0;

[[noreturn]] void failure(const QString& message, const std::source_location& where) {
    AssertionHandler::handleFailureInMethod(where.function_name(), "DROVTonePlayer",
                                            where.file_name(), int(where.line()), message);
}

// A status is judged by its low 16 bits read as a signed number: zero is success, and that
// number is what a failure message shows.
std::int16_t shortStatus(OSStatus status) {
    return std::int16_t(std::uint16_t(std::uint32_t(status) & 0xFFFFu));
}

void assertNoError(OSStatus status, const char* what,
                   const std::source_location& where = std::source_location::current()) {
    if (const std::int16_t err = shortStatus(status); err != 0)
        failure(QString::asprintf("%s: %hd", what, err), where);
}

// 44100 Hz mono 32-bit float, one buffer per channel.
AudioOutputUnit::AudioStreamBasicDescription toneStreamFormat(double sampleRate) {
    AudioOutputUnit::AudioStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.mFormatID = AudioOutputUnit::kAudioFormatLinearPCM;
    format.mFormatFlags = AudioOutputUnit::kAudioFormatFlagIsFloat |
                          AudioOutputUnit::kAudioFormatFlagIsPacked |
                          AudioOutputUnit::kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = 4;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = 4;
    format.mChannelsPerFrame = 1;
    format.mBitsPerChannel = 32;
    format.mReserved = 0;
    return format;
}

} // namespace

DROVTonePlayer::DROVTonePlayer()
    : frequency(kDefaultFrequency), sampleRate(kSampleRate), theta(0.0) {}

DROVTonePlayer::~DROVTonePlayer() {
    stop();
}

void DROVTonePlayer::newFreq(float freq) {
    frequency.store(freq, std::memory_order_relaxed);
    qCWarning(lcSound, "frequency: %f", double(freq));
}

void DROVTonePlayer::start() {
    if (toneUnit) {
        stop();
        return;
    }
    createToneUnit();
    assertNoError(toneUnit->initialize(), "Error initializing unit");
    assertNoError(toneUnit->start(), "Error starting unit");
}

void DROVTonePlayer::stop() {
    if (!toneUnit)
        return;
    // The stop is synchronous, so disposing of the unit afterwards cannot race a render call.
    toneUnit->stop();
    toneUnit->uninitialize();
    toneUnit.reset();
}

void DROVTonePlayer::createToneUnit() {
    std::optional<AudioOutputUnit::Component> defaultOutput = AudioOutputUnit::findDefaultOutput();
    if (!defaultOutput)
        failure(QStringLiteral("Can't find default output"), std::source_location::current());

    const OSStatus created = AudioOutputUnit::instanceNew(std::move(*defaultOutput), toneUnit);
    if (!toneUnit)
        failure(QString::asprintf("Error creating unit: %hd", shortStatus(created)),
                std::source_location::current());

    assertNoError(toneUnit->setRenderCallback({&DROVTonePlayer::renderTone, this}),
                  "Error setting callback");
    assertNoError(toneUnit->setStreamFormat(toneStreamFormat(sampleRate)),
                  "Error setting stream format");
}

OSStatus DROVTonePlayer::renderTone(void* inRefCon, AudioOutputUnit::AudioUnitRenderActionFlags*,
                                    const AudioOutputUnit::AudioTimeStamp*, std::uint32_t,
                                    std::uint32_t inNumberFrames,
                                    AudioOutputUnit::AudioBufferList* ioData) {
    auto* player = static_cast<DROVTonePlayer*>(inRefCon);
    double phase = player->theta;
    if (inNumberFrames == 0) {
        player->theta = phase;
        return AudioOutputUnit::noErr;
    }

    // One increment for the whole call: a pitch change lands at the next call, never inside
    // a buffer.
    const double increment =
        player->frequency.load(std::memory_order_relaxed) * kTwoPi / player->sampleRate;
    auto* buffer = static_cast<float*>(ioData->mBuffers[0].mData);
    for (std::uint32_t frame = 0; frame < inNumberFrames; ++frame) {
        buffer[frame] = float(std::sin(phase) * kAmplitude);
        phase += increment;
        if (phase > kTwoPi)
            phase -= kTwoPi;
    }
    player->theta = phase;
    return AudioOutputUnit::noErr;
}
