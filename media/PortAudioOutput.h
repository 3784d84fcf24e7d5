// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/MediaBackend.h"

struct PaStreamCallbackTimeInfo;

namespace zwirl::media {

// The system's default audio output as a PortAudio stream of mono 32-bit float samples, pulled
// from a render function on PortAudio's audio thread. PortAudio is loaded for the object's
// life; the stream is stopped and closed with it.
class PortAudioOutput : public AudioOutputBackend {
public:
    // Loads PortAudio and looks up the default output device.
    PortAudioOutput();
    ~PortAudioOutput() override;
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    // False when there is no audio output at all (no sound server reachable, no device).
    bool hasDevice() const override { return m_device >= 0; }
    // Opens the stream on the device; 0 or a PortAudio error code (PaError).
    int open(double sampleRate, Render render, void* context) override;
    // The stream begins pulling samples; 0 or a PortAudio error code.
    int start() override;
    // Synchronous: once it returns no render call is in progress and none follows.
    void stop() override;

    // PortAudio's description of an error code.
    static const char* errorText(int error);

private:
    static int pull(const void* input, void* output, unsigned long frames,
                    const PaStreamCallbackTimeInfo* timeInfo, unsigned long statusFlags,
                    void* self);

    bool m_loaded = false;
    int m_device = -1;
    void* m_stream = nullptr;
    Render m_render = nullptr;
    void* m_context = nullptr;
};

} // namespace zwirl::media
