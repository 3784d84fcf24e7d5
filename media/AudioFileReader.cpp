// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/AudioFileReader.h"

#include "media/MediaModule.h"

namespace zwirl::media {

AudioFileReader::AudioFileReader() {
    if (const MediaBackend* module = mediaModule())
        m_impl = module->makeReader();
}

AudioFileReader::~AudioFileReader() = default;

MediaError AudioFileReader::open(const QString& path) {
    return m_impl ? m_impl->open(path) : MediaError::Other;
}

MediaError AudioFileReader::setOutput(double rate, int channels) {
    return m_impl ? m_impl->setOutput(rate, channels) : MediaError::Other;
}

MediaError AudioFileReader::read(int16_t* out, int64_t& frames) {
    if (m_impl)
        return m_impl->read(out, frames);
    frames = 0;
    return MediaError::Other;
}

MediaError AudioFileReader::seek(int64_t frame) {
    return m_impl ? m_impl->seek(frame) : MediaError::Other;
}

} // namespace zwirl::media
