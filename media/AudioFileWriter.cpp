// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/AudioFileWriter.h"

#include "media/MediaModule.h"

namespace zwirl::media {

AudioFileWriter::AudioFileWriter() {
    if (const MediaBackend* module = mediaModule())
        m_impl = module->makeWriter();
}

AudioFileWriter::~AudioFileWriter() = default; // the implementation finishes the file

MediaError AudioFileWriter::open(const QString& path, const OutputStream& stream) {
    return m_impl ? m_impl->open(path, stream) : MediaError::Other;
}

MediaError AudioFileWriter::write(const int16_t* const* channels, int64_t frames) {
    return m_impl ? m_impl->write(channels, frames) : MediaError::Other;
}

MediaError AudioFileWriter::expectFrames(int64_t frames) {
    return m_impl ? m_impl->expectFrames(frames) : MediaError::Other;
}

MediaError AudioFileWriter::setCoverArt(const QByteArray& picture) {
    return m_impl ? m_impl->setCoverArt(picture) : MediaError::Other;
}

MediaError AudioFileWriter::setTags(const AudioFileTags& tags) {
    return m_impl ? m_impl->setTags(tags) : MediaError::Other;
}

MediaError AudioFileWriter::finish() {
    return m_impl ? m_impl->finish() : MediaError::None;
}

} // namespace zwirl::media
