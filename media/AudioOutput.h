// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

namespace zwirl {

namespace media {
class AudioOutputBackend;
}

// The system's default audio output as a stream of mono 32-bit float samples, pulled from a
// render function on the audio library's (PortAudio's) audio thread. The library is loaded for
// the object's life; the stream is stopped and closed with it. Without the media module there
// is no device.
class AudioOutput {
public:
    // Writes `frames` samples. Runs on the audio thread: it must not allocate, lock, log or
    // touch Qt.
    using Render = void (*)(void* context, float* samples, unsigned long frames);

    // Loads the audio library and looks up the default output device.
    AudioOutput();
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // False when there is no audio output at all (no sound server reachable, no device).
    bool hasDevice() const;
    // Opens the stream on the device; 0 or a PortAudio error code (PaError).
    int open(double sampleRate, Render render, void* context);
    // The stream begins pulling samples; 0 or a PortAudio error code.
    int start();
    // Synchronous: once it returns no render call is in progress and none follows.
    void stop();

    // PortAudio's description of an error code.
    static const char* errorText(int error);

private:
    std::unique_ptr<media::AudioOutputBackend> m_impl;
};

} // namespace zwirl
