// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/PortAudioOutput.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <mutex>

namespace zwirl::media {
namespace {

// PortAudio's set-up and tear-down, device list and stream opening are not thread-safe; an
// output may be opened on one thread and closed on another.
std::mutex libraryMutex;

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

// Looking for the default output probes every ALSA device and the JACK server, and each probe
// of a missing card or server prints lines to stderr on every start. Only the outcome matters,
// and the caller reports it.
void quietenDeviceProbes() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(&ignoreAlsaMessage);
        jack_set_error_function(&ignoreJackMessage);
        jack_set_info_function(&ignoreJackMessage);
    });
}

} // namespace

PortAudioOutput::PortAudioOutput() {
    quietenDeviceProbes();
    std::lock_guard lock(libraryMutex);
    // PortAudio counts its loads and lists the devices at the first, so an output made now
    // sees the devices that exist now.
    m_loaded = Pa_Initialize() == paNoError;
    if (m_loaded)
        m_device = Pa_GetDefaultOutputDevice(); // paNoDevice is -1
}

PortAudioOutput::~PortAudioOutput() {
    stop();
    std::lock_guard lock(libraryMutex);
    if (m_stream)
        Pa_CloseStream(m_stream);
    if (m_loaded)
        Pa_Terminate();
}

int PortAudioOutput::open(double sampleRate, Render render, void* context) {
    std::lock_guard lock(libraryMutex);
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
    // The higher of the device's latencies: a tone that follows clicks needs no few
    // milliseconds less delay, but must not stutter on a busy machine.
    output.suggestedLatency = info->defaultHighOutputLatency;
    return Pa_OpenStream(&m_stream, nullptr, &output, sampleRate, paFramesPerBufferUnspecified,
                         paNoFlag, &PortAudioOutput::pull, this);
}

int PortAudioOutput::start() {
    return m_stream ? Pa_StartStream(m_stream) : paBadStreamPtr;
}

void PortAudioOutput::stop() {
    // Pa_StopStream returns once the last callback has returned.
    if (m_stream && Pa_IsStreamStopped(m_stream) == 0)
        Pa_StopStream(m_stream);
}

int PortAudioOutput::pull(const void*, void* output, unsigned long frames,
                          const PaStreamCallbackTimeInfo*, unsigned long, void* self) {
    const auto* out = static_cast<const PortAudioOutput*>(self);
    out->m_render(out->m_context, static_cast<float*>(output), frames);
    return paContinue;
}

} // namespace zwirl::media
