// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"

struct PaStreamCallbackTimeInfo;

namespace zwirl::media {

// The default output as a PortAudio stream; PortAudio is loaded for the object's life.
class PortAudioOutput : public AudioOutput {
public:
    PortAudioOutput();
    ~PortAudioOutput() override;
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    bool hasDevice() const override { return m_device >= 0; }
    int open(double sampleRate, Render render, void* context) override;
    int start() override;
    void stop() override;

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
