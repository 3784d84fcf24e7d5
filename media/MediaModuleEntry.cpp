// SPDX-License-Identifier: GPL-3.0-or-later
// The media module's entry point, with the audio output over PortAudio.
#include "media/FFmpegPtr.h"
#include "media/MediaModule.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <mutex>
#include <portaudio.h>
#include <taglib/taglib.h>

namespace zwirl::media {
namespace {

// PortAudio is not thread-safe, and an output may be opened on one thread and closed on another.
std::mutex portAudioMutex;

class PortAudioOutput : public AudioOutput {
public:
    PortAudioOutput() {
        std::lock_guard lock(portAudioMutex);
        // PortAudio lists the devices at its first load, so an output made now sees the devices
        // that exist now.
        m_loaded = Pa_Initialize() == paNoError;
        if (m_loaded)
            m_device = Pa_GetDefaultOutputDevice(); // paNoDevice is -1
    }

    ~PortAudioOutput() override {
        stop();
        std::lock_guard lock(portAudioMutex);
        if (m_stream)
            Pa_CloseStream(m_stream);
        if (m_loaded)
            Pa_Terminate();
    }

    bool hasDevice() const override { return m_device >= 0; }

    int open(double sampleRate, Render render, void* context) override {
        std::lock_guard lock(portAudioMutex);
        const PaDeviceInfo* info = hasDevice() ? Pa_GetDeviceInfo(m_device) : nullptr;
        if (!info)
            return paInvalidDevice;
        if (m_stream)
            return paNoError;
        m_render = render;
        m_context = context;
        PaStreamParameters output{};
        output.device = m_device;
        output.channelCount = 1;
        output.sampleFormat = paFloat32;
        // A tone that follows clicks needs no few milliseconds less delay, but must not stutter
        // on a busy machine.
        output.suggestedLatency = info->defaultHighOutputLatency;
        return Pa_OpenStream(&m_stream, nullptr, &output, sampleRate, paFramesPerBufferUnspecified,
                             paNoFlag, &PortAudioOutput::pull, this);
    }

    int start() override { return m_stream ? Pa_StartStream(m_stream) : paBadStreamPtr; }
    const char* errorText(int error) const override { return Pa_GetErrorText(error); }

    void stop() override {
        // Pa_StopStream returns once the last callback has returned.
        if (m_stream && Pa_IsStreamStopped(m_stream) == 0)
            Pa_StopStream(m_stream);
    }

private:
    static int pull(const void*, void* output, unsigned long frames,
                    const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        const auto* out = static_cast<const PortAudioOutput*>(self);
        out->m_render(out->m_context, static_cast<float*>(output), frames);
        return paContinue;
    }

    bool m_loaded = false;
    int m_device = -1;
    PaStream* m_stream = nullptr;
    Render m_render = nullptr;
    void* m_context = nullptr;
};

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

QList<std::pair<QString, QString>> versions() {
    const PaVersionInfo* portAudio = Pa_GetVersionInfo();
    return {
        {QStringLiteral("FFmpeg"), QString::fromUtf8(av_version_info())},
        {QStringLiteral("TagLib"), QString::asprintf("%d.%d.%d", TAGLIB_MAJOR_VERSION,
                                                     TAGLIB_MINOR_VERSION, TAGLIB_PATCH_VERSION)},
        {QStringLiteral("PortAudio"),
         QString::asprintf("%d.%d.%d", portAudio->versionMajor, portAudio->versionMinor,
                           portAudio->versionSubMinor)}};
}

const MediaBackend kBackend{
    ZWIRL_VERSION,
    makeFFmpegReader,
    makeFFmpegWriter,
    []() -> std::unique_ptr<AudioOutput> { return std::make_unique<PortAudioOutput>(); },
    &versions,
};

} // namespace
} // namespace zwirl::media

extern "C" __attribute__((visibility("default"))) const zwirl::media::MediaBackend*
zwirl_media_backend() {
    // FFmpeg's notes (encoder statistics, probing) stay off standard error, its errors show. The
    // search for the default output probes every ALSA device and the JACK server, each missing
    // one printing lines on every start; only the outcome matters, and the caller reports it.
    av_log_set_level(AV_LOG_ERROR);
    snd_lib_error_set_handler(&zwirl::media::ignoreAlsaMessage);
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    return &zwirl::media::kBackend;
}
