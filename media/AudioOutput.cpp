// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/AudioOutput.h"

#include "media/MediaModule.h"

namespace zwirl {
namespace {

// What open and start return without the media module: PortAudio's "not initialized".
constexpr int kNoLibrary = -10000;

} // namespace

AudioOutput::AudioOutput() {
    if (const media::MediaBackend* module = media::mediaModule())
        m_impl = module->makeOutput();
}

AudioOutput::~AudioOutput() = default;

bool AudioOutput::hasDevice() const {
    return m_impl && m_impl->hasDevice();
}

int AudioOutput::open(double sampleRate, Render render, void* context) {
    return m_impl ? m_impl->open(sampleRate, render, context) : kNoLibrary;
}

int AudioOutput::start() {
    return m_impl ? m_impl->start() : kNoLibrary;
}

void AudioOutput::stop() {
    if (m_impl)
        m_impl->stop();
}

const char* AudioOutput::errorText(int error) {
    const media::MediaBackend* module = media::mediaModule();
    return module ? module->outputErrorText(error) : "the audio library could not be loaded";
}

} // namespace zwirl
