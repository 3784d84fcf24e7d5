#include "platform/AudioOutputUnit.h"

#include "platform/PlatformLog.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <cstring>
#include <mutex>

namespace {

constexpr std::uint32_t kBytesPerSample = sizeof(float);

// PortAudio's set-up and tear-down, device lists and stream opening are not thread-safe; the
// player is started on the main thread and stopped on the background queue.
std::mutex& libraryMutex() {
    static std::mutex mutex;
    return mutex;
}

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

// Finding the default output probes every ALSA device and the JACK server. Each probe of a
// missing card or server prints several lines to stderr, on every start; the outcome of the
// search is what matters, and it is reported by the caller.
void quietenDeviceProbes() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(&ignoreAlsaMessage);
        jack_set_error_function(&ignoreJackMessage);
        jack_set_info_function(&ignoreJackMessage);
    });
}

// Each successful acquire is paired with one release; PortAudio counts them and builds its
// device list at the first one, so a fresh search sees the outputs that exist now.
PaError acquireLibrary() {
    quietenDeviceProbes();
    return Pa_Initialize();
}

void releaseLibrary() {
    std::lock_guard lock(libraryMutex());
    Pa_Terminate();
}

OSStatus reportedStatus(PaError error, const char* call) {
    if (error == paNoError)
        return AudioOutputUnit::noErr;
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        qCWarning(lcPlatform, "%s failed: %s (%s)", call, Pa_GetErrorText(error),
                  host && host->errorText ? host->errorText : "");
    } else {
        qCWarning(lcPlatform, "%s failed: %s", call, Pa_GetErrorText(error));
    }
    return error;
}

bool isNonInterleaved(const AudioOutputUnit::AudioStreamBasicDescription& format) {
    return format.mFormatFlags & AudioOutputUnit::kAudioFormatFlagIsNonInterleaved;
}

// The device plays 32-bit float linear PCM in any channel count, one frame per packet.
bool isPlayable(const AudioOutputUnit::AudioStreamBasicDescription& format) {
    const std::uint32_t frameBytes =
        isNonInterleaved(format) ? kBytesPerSample : kBytesPerSample * format.mChannelsPerFrame;
    return format.mFormatID == AudioOutputUnit::kAudioFormatLinearPCM &&
           (format.mFormatFlags & AudioOutputUnit::kAudioFormatFlagIsFloat) &&
           format.mBitsPerChannel == 8 * kBytesPerSample && format.mChannelsPerFrame >= 1 &&
           format.mFramesPerPacket == 1 && format.mBytesPerFrame == frameBytes &&
           format.mBytesPerPacket == frameBytes && format.mSampleRate > 0;
}

// What an output unit starts with: 44100 Hz stereo float, non-interleaved.
AudioOutputUnit::AudioStreamBasicDescription canonicalFormat() {
    AudioOutputUnit::AudioStreamBasicDescription format;
    format.mSampleRate = 44100;
    format.mFormatID = AudioOutputUnit::kAudioFormatLinearPCM;
    format.mFormatFlags = AudioOutputUnit::kAudioFormatFlagIsFloat |
                          AudioOutputUnit::kAudioFormatFlagIsPacked |
                          AudioOutputUnit::kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = kBytesPerSample;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = kBytesPerSample;
    format.mChannelsPerFrame = 2;
    format.mBitsPerChannel = 8 * kBytesPerSample;
    return format;
}

} // namespace

AudioOutputUnit::Component::Component(Component&& other) noexcept
    : m_device(other.m_device), m_holdsLibrary(other.m_holdsLibrary) {
    other.m_holdsLibrary = false;
}

AudioOutputUnit::Component::~Component() {
    if (m_holdsLibrary)
        releaseLibrary();
}

std::optional<AudioOutputUnit::Component> AudioOutputUnit::findDefaultOutput() {
    std::lock_guard lock(libraryMutex());
    if (const PaError error = acquireLibrary(); error != paNoError) {
        reportedStatus(error, "Pa_Initialize");
        return std::nullopt;
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) {
        Pa_Terminate();
        return std::nullopt;
    }
    return Component(device);
}

OSStatus AudioOutputUnit::instanceNew(Component component,
                                      std::unique_ptr<AudioOutputUnit>& outInstance) {
    outInstance.reset(new AudioOutputUnit(component.m_device));
    // The unit now holds the component's reference to the library.
    component.m_holdsLibrary = false;
    return noErr;
}

AudioOutputUnit::AudioOutputUnit(int device) : m_device(device), m_format(canonicalFormat()) {}

AudioOutputUnit::~AudioOutputUnit() {
    uninitialize();
    releaseLibrary();
}

OSStatus AudioOutputUnit::setRenderCallback(const AURenderCallbackStruct& callback) {
    if (m_stream)
        return kErrCannotDoInCurrentContext;
    m_callback = callback;
    return noErr;
}

OSStatus AudioOutputUnit::setStreamFormat(const AudioStreamBasicDescription& format) {
    if (m_stream)
        return kErrCannotDoInCurrentContext;
    if (!isPlayable(format))
        return kErrFormatNotSupported;
    m_format = format;
    return noErr;
}

OSStatus AudioOutputUnit::initialize() {
    if (m_stream)
        return noErr;
    if (!m_callback.inputProc)
        return kErrNoConnection;

    std::lock_guard lock(libraryMutex());
    const PaDeviceInfo* info = Pa_GetDeviceInfo(m_device);
    if (!info)
        return reportedStatus(paInvalidDevice, "Pa_GetDeviceInfo");
    PaStreamParameters output{};
    output.device = m_device;
    output.channelCount = int(m_format.mChannelsPerFrame);
    output.sampleFormat = paFloat32 | (isNonInterleaved(m_format) ? paNonInterleaved : 0);
    // The higher of the device's two latencies: a tone that follows clicks does not need a
    // few milliseconds less delay, but it must not stutter on a busy machine.
    output.suggestedLatency = info->defaultHighOutputLatency;

    prepareBufferList();
    m_sampleTime = 0;
    PaStream* stream = nullptr;
    const PaError error =
        Pa_OpenStream(&stream, nullptr, &output, m_format.mSampleRate, paFramesPerBufferUnspecified,
                      paNoFlag, &renderThroughCallback, this);
    if (error != paNoError)
        return reportedStatus(error, "Pa_OpenStream");
    m_stream = stream;
    return noErr;
}

OSStatus AudioOutputUnit::start() {
    if (!m_stream)
        return kErrUninitialized;
    if (Pa_IsStreamStopped(m_stream) == 0)
        return noErr;
    return reportedStatus(Pa_StartStream(m_stream), "Pa_StartStream");
}

OSStatus AudioOutputUnit::stop() {
    if (!m_stream || Pa_IsStreamStopped(m_stream) == 1)
        return noErr;
    // Pa_StopStream returns only after the last callback has returned.
    return reportedStatus(Pa_StopStream(m_stream), "Pa_StopStream");
}

OSStatus AudioOutputUnit::uninitialize() {
    if (!m_stream)
        return noErr;
    std::lock_guard lock(libraryMutex());
    // Closing a running stream aborts it first, synchronously.
    const PaError error = Pa_CloseStream(m_stream);
    m_stream = nullptr;
    return reportedStatus(error, "Pa_CloseStream");
}

void AudioOutputUnit::prepareBufferList() {
    if (isNonInterleaved(m_format))
        m_buffers.assign(m_format.mChannelsPerFrame, AudioBuffer{1, 0, nullptr});
    else
        m_buffers.assign(1, AudioBuffer{m_format.mChannelsPerFrame, 0, nullptr});
}

int AudioOutputUnit::renderThroughCallback(const void*, void* output, unsigned long frameCount,
                                           const PaStreamCallbackTimeInfo* timeInfo, unsigned long,
                                           void* userData) {
    auto* unit = static_cast<AudioOutputUnit*>(userData);
    const bool nonInterleaved = isNonInterleaved(unit->m_format);
    for (std::size_t i = 0; i < unit->m_buffers.size(); ++i) {
        AudioBuffer& buffer = unit->m_buffers[i];
        buffer.mData = nonInterleaved ? static_cast<void**>(output)[i] : output;
        buffer.mDataByteSize = std::uint32_t(frameCount * kBytesPerSample * buffer.mNumberChannels);
    }
    AudioBufferList list{std::uint32_t(unit->m_buffers.size()), unit->m_buffers.data()};
    const AudioTimeStamp stamp{unit->m_sampleTime, timeInfo ? timeInfo->outputBufferDacTime : 0};
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus status = unit->m_callback.inputProc(unit->m_callback.inputProcRefCon, &flags,
                                                       &stamp, 0, std::uint32_t(frameCount), &list);
    // A callback that fails leaves the buffers undefined; the device plays silence instead.
    if (status != noErr) {
        for (const AudioBuffer& buffer : unit->m_buffers)
            std::memset(buffer.mData, 0, buffer.mDataByteSize);
    }
    unit->m_sampleTime += double(frameCount);
    return paContinue;
}
